#pragma once
// The certificate's PDF is drawn by the web engine, which is large (hundreds
// of megabytes mapped, a render process) and on a production PC may not be
// installed at all. It lives in the plug-in libvyxctlpdf.so, loaded by
// "vyxctl certificate" alone: every other command starts without it.

#include <QtPlugin>

class QString;

class TPdfWriter {
public:
    virtual ~TPdfWriter() = default;
    // Renders the local page to pdfPath on the certificate's page layout,
    // under a QGuiApplication, waiting at most a minute for each step. Empty
    // when written, else why not.
    virtual QString WritePdf(const QString& pagePath, const QString& pdfPath) = 0;
};

// Changes with every change of TPdfWriter: a plug-in of another version is
// then refused by name.
#define TPdfWriter_iid "cz.kalvent.vyxvozeradavo.PdfWriter/1"
Q_DECLARE_INTERFACE(TPdfWriter, TPdfWriter_iid)
