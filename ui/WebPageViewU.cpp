// The plug-in that holds the web engine: a QWebEngineView behind TPageView.

#include "files/CertificateWebEngineU.h"
#include "ui/PageViewU.h"

#include <QObject>
#include <QOpenGLContext>
#include <QPrintDialog>
#include <QPrinter>
#include <QQuickWindow>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>
#include <utility>

namespace {
class TWebPageView : public QWebEngineView, public TPageView {
public:
    explicit TWebPageView(QWidget* parent)
        : QWebEngineView(parent)
    {
        RestrictToLocalFiles(*page());
        connect(this, &QWebEngineView::printFinished, this, &TWebPageView::PrintDone);
        connect(page(), &QWebEnginePage::pdfPrintingFinished, this,
                [this](const QString&, bool success) { PrintDone(success); });
    }

    QWidget* Widget() override { return this; }
    void Navigate(const QString& localPath) override { load(QUrl::fromLocalFile(localPath)); }
    QPrinter* ChoosePrinter(QWidget* dialogParent, const QString& fileName) override
    {
        const bool fresh = !FPrinter;
        if (fresh) {
            FPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
            // the dialog offers the certificate's paper and margins, those
            // vyxctl prints with
            FPrinter->setPageLayout(CertificatePageLayout());
        }
        // each module's certificate a file of its own; a printer the user
        // chose last time stays chosen
        if (fresh || FPrinter->outputFormat() == QPrinter::PdfFormat)
            FPrinter->setOutputFileName(fileName);
        QPrintDialog dialog(FPrinter.get(), dialogParent);
        return dialog.exec() == QDialog::Accepted ? FPrinter.get() : nullptr;
    }

    void Print(QPrinter* printer, std::function<void(bool)> done) override
    {
        FPrintDone = std::move(done);
        // The print dialog's "print to file": the engine writes the PDF itself,
        // with its text, where printing through QPrinter would paint pictures
        // of the pages.
        if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty())
            page()->printToPdf(printer->outputFileName(), printer->pageLayout(), printer->pageRanges());
        else
            print(printer);
    }

private:
    void PrintDone(bool success)
    {
        if (auto done = std::exchange(FPrintDone, {}))
            done(success);
    }

    std::unique_ptr<QPrinter> FPrinter;
    std::function<void(bool)> FPrintDone;
};
}

class TWebPageViewPlugin : public QObject, public TPageViewFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TPageViewFactory_iid)
    Q_INTERFACES(TPageViewFactory)
public:
    // made once, when the program first loads the plug-in and before the
    // engine's first page
    TWebPageViewPlugin()
    {
        PrepareWebEngine();
        // Without OpenGL (no driver, a remote display without GLX) the shared
        // context could not be created: the view is drawn by Qt Quick's
        // software renderer, and the engine keeps off the GPU.
        const QOpenGLContext* shared = QOpenGLContext::globalShareContext();
        if (!shared || !shared->isValid())
            QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }

    TPageView* CreatePageView(QWidget* parent) override { return new TWebPageView(parent); }
};

#include "WebPageViewU.moc"
