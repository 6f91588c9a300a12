#pragma once
// TBrowserWindow: the certificate preview. It fills the certificate page with
// the product, the date and the serial number, writes it to "tmp.html" in the
// program folder, shows that file and prints it. Every change of a field
// rewrites and reloads the page, so the preview shows what will be printed.

#include "files/PluginsU.h"

#include <QDateTime>

#include <QDialog>
#include <QStringList>
#include <QString>

#include <memory>

class QPrinter;
class TPageView;

namespace Ui {
class BrowserWindow;
}

// The file a certificate printed to a file is offered as: certificate-<serial>.pdf
// in the user's documents folder, so that a batch's certificates do not overwrite
// each other.
QString CertificateFileName(const QString& serialNumber);

class TBrowserWindow : public QDialog {
    Q_OBJECT
public:
    // pageFolder: where the page file goes, with or without its trailing separator
    // plugInFolders: where its plug-in is looked for when first shown
    explicit TBrowserWindow(const QString& pageFolder, QWidget* parent = nullptr,
                            const QStringList& plugInFolders = ProgramPlugInFolders());
    ~TBrowserWindow() override;

    // Fills the fields and shows the window modally; returns its result when
    // the user has closed it.
    int ShowCertificate(const QString& product, const QString& serialNumber, const QDateTime& date);

    QString PagePath() const { return FPageFolder + QStringLiteral("tmp.html"); }

    // The page regeneration; raises when the file cannot be written, leaving
    // the preview as it was.
    void Edit1Change();
    void Edit3Change() { Edit1Change(); }
    void DateTimePicker1Change() { Edit1Change(); }

    // The print dialog, then PrintPage.
    void Button1Click();
    // Prints the page shown as the print dialog's choice would; raises when
    // printing fails.
    void PrintPage(QPrinter& printer);

private:
    void CreateWebBrowser();

    std::unique_ptr<Ui::BrowserWindow> ui;
    QString FPageFolder;
    QStringList FPlugInFolders;
    // made when the window is first shown, owned by the window as its child
    TPageView* FWebBrowser = nullptr;
};
