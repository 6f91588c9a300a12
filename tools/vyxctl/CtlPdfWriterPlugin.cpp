// The plug-in that holds the web engine for vyxctl certificate.

#include "tools/vyxctl/CtlPdfWriter.h"
#include "files/CertificateWebEngineU.h"

#include <QEventLoop>
#include <QObject>
#include <QPageLayout>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>

namespace {
constexpr int RenderWaitMs = 60000;

// Waits for one emission of the signal; false when the time ran out.
template <class Signal, class Slot>
bool WaitFor(const QWebEnginePage& page, Signal signal, Slot slot)
{
    QEventLoop loop;
    bool done = false;
    QObject::connect(&page, signal, &loop, [&](auto... args) {
        slot(args...);
        done = true;
        loop.quit();
    });
    QTimer::singleShot(RenderWaitMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done;
}
}

class TPdfWriterPlugin : public QObject, public TPdfWriter {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TPdfWriter_iid)
    Q_INTERFACES(TPdfWriter)
public:
    QString WritePdf(const QString& pagePath, const QString& pdfPath) override
    {
        PrepareWebEngine();
        QWebEnginePage web;
        RestrictToLocalFiles(web);
        bool loaded = false;
        web.load(QUrl::fromLocalFile(pagePath));
        if (!WaitFor(web, &QWebEnginePage::loadFinished, [&](bool ok) { loaded = ok; }) || !loaded)
            return QStringLiteral("the page could not be rendered");
        bool printed = false;
        web.printToPdf(pdfPath, CertificatePageLayout());
        if (!WaitFor(web, &QWebEnginePage::pdfPrintingFinished, [&](const QString&, bool ok) { printed = ok; })
            || !printed)
            return QStringLiteral("cannot write %1").arg(pdfPath);
        return {};
    }
};

#include "CtlPdfWriterPlugin.moc"
