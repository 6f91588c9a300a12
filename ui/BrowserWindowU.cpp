#include "ui/BrowserWindowU.h"

#include "files/AppFoldersU.h"

#include "ui_BrowserWindow.h"

#include "files/CertificateTemplateU.h"
#include "files/PluginsU.h"
#include "ui/PageViewU.h"
#include "files/TextFileCodec.h"
#include "ui/TypingLimitU.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QOpenGLContext>
#include <QScopeGuard>
#include <QSignalBlocker>

#include <optional>
#include <stdexcept>

Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace {
[[noreturn]] void Raise(const QString& message)
{
    throw std::runtime_error(message.toLocal8Bit().toStdString());
}

// Created or truncated, written, flushed and closed; each step that fails
// raises with the system's reason.
void WritePage(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    const auto fail = [&file, &path] {
        Raise(QStringLiteral("Cannot write the certificate \"%1\": %2")
                  .arg(QDir::toNativeSeparators(path), file.errorString()));
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail();
    if (file.write(bytes) != bytes.size() || !file.flush())
        fail();
    file.close();
    if (file.error() != QFileDevice::NoError)
        fail();
}

// The web engine draws with contexts shared with one of the application's.
// Qt makes that context when the application starts if asked to
// (AA_ShareOpenGLContexts), which would load the OpenGL drivers at every start;
// made here, it costs only the first opening of the preview. Qt's own modules
// set it through this function of QtGui, which no public header declares.
// Without OpenGL (no driver, a remote display without GLX) it cannot be made.
// The engine reads its format all the same as it starts, so it is set anyway:
// the plug-in sees that it is not valid and draws the page in software.
void CreateGlobalShareContext()
{
    if (QOpenGLContext::globalShareContext())
        return;
    auto* context = new QOpenGLContext(QCoreApplication::instance());
    context->create();
    qt_gl_set_global_share_context(context);
}

TPageViewFactory* LoadPageViewFactory(const QStringList& folders)
{
    CreateGlobalShareContext();
    const QString fileName = QStringLiteral(VYX_PLUGIN_FILE_NAME);
    QString reasons;
    if (auto* factory = qobject_cast<TPageViewFactory*>(LoadOwnPlugin(fileName, TPageViewFactory_iid, folders, reasons)))
        return factory;
    Raise(QStringLiteral("The certificate preview cannot be shown: its plug-in %1 could not be loaded.\n%2")
              .arg(fileName, reasons));
}
}

QString CertificateFileName(const QString& serialNumber)
{
    // a serial number typed by hand may hold what no file name can
    QString name = serialNumber.trimmed();
    for (QChar& c : name)
        if (c == '/' || c == '\\' || c.category() == QChar::Other_Control)
            c = '_';
    const QString file = name.isEmpty() ? QStringLiteral("certificate.pdf") : QStringLiteral("certificate-%1.pdf").arg(name);
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(file);
}

TBrowserWindow::TBrowserWindow(const QString& pageFolder, QWidget* parent, const QStringList& plugInFolders)
    : QDialog(parent)
    , ui(std::make_unique<Ui::BrowserWindow>())
    , FPageFolder(QDir::cleanPath(pageFolder) + '/')
    , FPlugInFolders(plugInFolders)
{
    ui->setupUi(this);
    // the page is stored in windows-1250
    LimitToCodePage(ui->Edit1);
    LimitToCodePage(ui->Edit3);
    ui->DateTimePicker1->setDisplayFormat(QLocale::system().dateFormat(QLocale::ShortFormat));

    connect(ui->Edit1, &QLineEdit::textChanged, this, &TBrowserWindow::Edit1Change);
    connect(ui->Edit3, &QLineEdit::textChanged, this, &TBrowserWindow::Edit3Change);
    connect(ui->DateTimePicker1, &QDateEdit::dateChanged, this, &TBrowserWindow::DateTimePicker1Change);
    connect(ui->Button1, &QPushButton::clicked, this, &TBrowserWindow::Button1Click);
}

TBrowserWindow::~TBrowserWindow() = default;

void TBrowserWindow::CreateWebBrowser()
{
    if (FWebBrowser)
        return;
    FWebBrowser = LoadPageViewFactory(FPlugInFolders)->CreatePageView(this);
    QWidget* view = FWebBrowser->Widget();
    // the view takes the place and the name of the form's stand-in
    delete layout()->replaceWidget(ui->WebBrowser1, view);
    delete ui->WebBrowser1;
    ui->WebBrowser1 = view;
    view->setObjectName(QStringLiteral("WebBrowser1"));
}

int TBrowserWindow::ShowCertificate(const QString& product, const QString& serialNumber, const QDateTime& date)
{
    CreateWebBrowser();
    // an unchanged text fires no change, and the picker's value set here none at all
    ui->Edit1->setText(product);
    {
        const QSignalBlocker quiet(ui->DateTimePicker1);
        ui->DateTimePicker1->setDateTime(date);
    }
    ui->Edit3->setText(serialNumber);
    return exec();
}

void TBrowserWindow::Edit1Change()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });

    const QString date = QLocale::system().toString(ui->DateTimePicker1->date(), QLocale::ShortFormat);
    const std::optional<QByteArray> page =
        EncodeWindows1250(CertificatePage(ui->Edit1->text(), date, ui->Edit3->text()));
    if (!page)
        Raise(QStringLiteral("The certificate holds a character that windows-1250 cannot store."));
    WritePage(PagePath(), *page);
    if (FWebBrowser)
        FWebBrowser->Navigate(PagePath());
}

void TBrowserWindow::Button1Click()
{
    CreateWebBrowser();
    if (QPrinter* printer = FWebBrowser->ChoosePrinter(this, CertificateFileName(ui->Edit3->text())))
        PrintPage(*printer);
}

void TBrowserWindow::PrintPage(QPrinter& printer)
{
    CreateWebBrowser();
    // one print at a time: the view refuses a second one while the first runs
    ui->Button1->setEnabled(false);
    const auto enableButton = qScopeGuard([this] { ui->Button1->setEnabled(true); });

    bool finished = false;
    bool success = false;
    QEventLoop loop;
    FWebBrowser->Print(&printer, [&](bool ok) {
        finished = true;
        success = ok;
        loop.quit();
    });
    if (!finished)
        loop.exec();
    if (!success)
        Raise(QStringLiteral("The certificate could not be printed."));
}
