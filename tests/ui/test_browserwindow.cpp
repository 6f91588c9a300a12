// The certificate window: the page it writes, when it writes it, what it does
// when it cannot, printing to PDF, and PrintBtn of the main window.

#include "MainWindowTestSupport.h"

#include "base/AppErrors.h"
#include "ui/ApplicationU.h"
#include "ui/BrowserWindowU.h"
#include "files/CertificateTemplateU.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QLocale>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <stdexcept>

namespace {
const QString PageTitle = QStringLiteral("Osvědčení o jakosti a kompletnosti výrobku");
const QDateTime Date(QDate(2026, 3, 7), QTime(14, 30));

QString ShortDate(const QDateTime& date)
{
    return QLocale::system().toString(date.date(), QLocale::ShortFormat);
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Decoded1250(const QByteArray& bytes)
{
    QStringDecoder decoder("windows-1250");
    return decoder.decode(bytes);
}

QWidget* WebBrowser(const QWidget& window)
{
    return Control<QWidget>(window, "WebBrowser1");
}

// Runs inside the window's modal loop once the page has loaded, then closes it.
void WhileOpen(TBrowserWindow& window, const QString& product, const QString& serial,
               const std::function<void()>& inside)
{
    QTimer::singleShot(0, &window, [&window, &inside] {
        const auto close = qScopeGuard([&window] { window.reject(); });
        QTRY_COMPARE_WITH_TIMEOUT(WebBrowser(window)->property("title").toString(), PageTitle, 30000);
        inside();
    });
    window.ShowCertificate(product, serial, Date);
}

// What a reader sees: pdfinfo's page count and size, the text as laid out
QString PdfAsSeen(const QString& pdf)
{
    QProcess info, text;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    text.start(QStringLiteral("pdftotext"), {"-layout", "-enc", "UTF-8", pdf, "-"});
    info.waitForFinished();
    text.waitForFinished();
    const QStringList pages = QString::fromUtf8(info.readAllStandardOutput()).split('\n');
    return pages.filter(QRegularExpression("^Page(s| size):")).join('\n') + '\n' + text.readAllStandardOutput();
}

// tags and non-blank texts of the page, in order
QStringList Outline(const QString& html)
{
    QStringList items;
    static const QRegularExpression part(QStringLiteral("(<[^>]*>)|([^<]+)"));
    for (const auto& m : part.globalMatch(html)) {
        if (m.hasCaptured(1))
            items << m.captured(1).section(QLatin1Char(' '), 0, 0).remove(QLatin1Char('>'));
        else if (!m.captured(2).trimmed().isEmpty())
            items << QStringLiteral("'") + m.captured(2).trimmed();
    }
    return items;
}
}

class TestBrowserWindow : public QObject {
    Q_OBJECT
private slots:
    void init() { FReports.clear(); AppErrors::SetHandler([this](const QString& m) { FReports << m; }); }
    void cleanup() { AppErrors::SetHandler(nullptr); }

    void pageHasTheCertificateStructure();
    void certificateFileIsNamedAfterItsModule();
    void valuesAreInsertedAsText_data();
    void valuesAreInsertedAsText();
    void pageIsRegeneratedOnlyOnRealChanges();
    void unwritablePageKeepsThePreview_data();
    void unwritablePageKeepsThePreview();
    void printsTheSamePdfAsVyxctl();
    void printButtonOpensTheCertificate();
    void missingPlugInIsNamed();
    void plugInFoldersStayWithTheProgram();

private:
    QStringList FReports;
};

// the first test: no certificate window has been shown before it
void TestBrowserWindow::pageHasTheCertificateStructure()
{
    const auto webEngineMapped = [] {
        QFile maps("/proc/self/maps");
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6WebEngineCore");
    };
    TProgramFolder folder;
    TBrowserWindow window(folder.Path(), nullptr, {VYX_PLUGIN_DIR});
    QVERIFY(!webEngineMapped());
    WhileOpen(window, "Quor 51", "0A1B2C3D", [] {});
    QVERIFY(webEngineMapped());

    const QByteArray bytes = FileBytes(folder.Path() + "tmp.html");
    QVERIFY(!bytes.contains('\n') && !bytes.contains('\r'));
    const QString page = Decoded1250(bytes);
    QVERIFY(page.startsWith("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\""));
    QVERIFY(page.contains("<html lang=\"cs\">"));
    QVERIFY(page.contains("content=\"text/html; charset=windows-1250\""));
    QVERIFY(page.contains("<style type=\"text/css\">h1 {text-align: center;} h2 {text-align: center;} "
                          "table {width: 100%;} hr {height: 1px;} td {height: 6em;}</style>"));
    QVERIFY(page.endsWith("</html>"));

    const QStringList body = Outline(page.section("<body>", 1));
    const QStringList expected = {
        "<h1", "'Osvědčení", "</h1", "<h2", "'o jakosti a kompletnosti výrobku", "</h2",
        "<p", "'Výrobce", "<b", "'Kalvent", "</b",
        "', Na Výsluní 7, 123 45 Horní Lhota, IČO 00000000, tímto potvrzuje, že vlastnosti výrobku odpovídají "
        "zaručovaným technickým podmínkám a výrobek je kompletní dle přiložené dokumentace.",
        "</p", "<table",
        "<tr", "<td", "'Výrobek:", "</td", "<td", "<b", "'Quor 51", "</b", "</td",
        "<td", "'Datum:", "</td", "<td", "<b", "'" + ShortDate(Date), "</b", "</td", "</tr",
        "<tr", "<td", "'Výrobní číslo:", "</td", "<td", "<b", "'0A1B2C3D", "</b", "</td",
        "<td", "'Razítko a podpis:", "</td", "<td", "'&nbsp;", "</td", "</tr",
        "</table", "<hr",
        "<h1", "'Záruční list", "</h1", "<h3", "'Záruční podmínky", "</h3", "<ul",
        "<li", "'Držitel výrobku je při uplatňování odpovědnosti za vady povinen doložit tento list řádně "
        "vyplněný prodejcem nebo montážní firmou.", "</li",
        "<li", "'Dodavatel poskytuje záruční lhůtu 24 měsíců ode dne prodeje odběrateli.", "</li",
        "<li", "'Výrobce neodpovídá za vady způsobené nesprávným použitím výrobku, nedodržením pokynů pro "
        "obsluhu a montáž, neodbornou instalací apod.", "</li",
        "<li", "'Není-li při opravě zjištěna závada na níž se vztahuje záruka nebo není-li výrobek označen "
        "výrobním číslem, hradí náklady spojené s výkonem servisního technika držitel výrobku.", "</li",
        "</ul", "<h3", "'Prodejce nebo montážní organizace", "</h3", "<p", "'(adresa, datum, razítko a podpis)", "</p",
        "</body", "</html"};
    QCOMPARE(body, expected);
    QVERIFY(page.contains("<title>" + PageTitle + "</title>"));
}

void TestBrowserWindow::valuesAreInsertedAsText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("inPage");
    QTest::newRow("percent") << "100% %s %%" << "100% %s %%";
    QTest::newRow("markup") << "<b>&" << "&lt;b&gt;&amp;";
    QTest::newRow("quotes") << "\"x' " << "&quot;x&#39; ";
}

void TestBrowserWindow::valuesAreInsertedAsText()
{
    QFETCH(QString, typed);
    QFETCH(QString, inPage);
    const QString page = CertificatePage(typed, "1.2.2026", typed);
    QCOMPARE(page.count("<td><b>" + inPage + "</b></td>"), 2);
    QVERIFY(page.contains("<td><b>1.2.2026</b></td>"));
    QVERIFY(page.contains("table {width: 100%;}"));
}

void TestBrowserWindow::pageIsRegeneratedOnlyOnRealChanges()
{
    TProgramFolder folder;
    const QString path = folder.Path() + "tmp.html";
    TBrowserWindow window(folder.Path(), nullptr, {VYX_PLUGIN_DIR});
    WhileOpen(window, "Quor 51", "0A1B2C3D", [&] {
        QCOMPARE(WebBrowser(window)->property("url").toUrl(), QUrl::fromLocalFile(path));
        QVERIFY(Decoded1250(FileBytes(path)).contains("<b>0A1B2C3D</b>"));
    });

    // same texts: nothing is written, though the date is a new one
    QVERIFY(QFile::remove(path));
    QSignalSpy loads(WebBrowser(window), SIGNAL(loadFinished(bool)));
    QTimer::singleShot(0, &window, &QDialog::reject);
    window.ShowCertificate("Quor 51", "0A1B2C3D", Date.addDays(1));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(loads.count(), 0);

    // every keystroke in either field, and a new date, writes and reloads
    WhileOpen(window, "Quor 51", "0A1B2C3D", [&] {
        auto* serial = Control<QLineEdit>(window, "Edit3");
        serial->setFocus();
        serial->end(false);
        for (const char* key : {"E", "F"}) {
            const qsizetype before = loads.count();
            QTest::keyClicks(serial, key);
            QTRY_COMPARE(loads.count(), before + 1);
        }
        QVERIFY(Decoded1250(FileBytes(path)).contains("<b>0A1B2C3DEF</b>"));
        // a character the code page lacks is refused as typed or pasted
        serial->insert(QString(QChar(0x4E2D)));
        QCOMPARE(serial->text(), "0A1B2C3DEF");
        const qsizetype before = loads.count();
        Control<QDateEdit>(window, "DateTimePicker1")->setDate(QDate(2027, 1, 2));
        QTRY_COMPARE(loads.count(), before + 1);
        QVERIFY(Decoded1250(FileBytes(path)).contains("<b>" + QLocale::system().toString(QDate(2027, 1, 2),
                                                                                         QLocale::ShortFormat)));
    });
    QVERIFY(FReports.isEmpty());
}

void TestBrowserWindow::unwritablePageKeepsThePreview_data()
{
    QTest::addColumn<bool>("asFolder");
    // root writes into a read-only folder: a folder in the page's place and a
    // full device fail for every user, at creation and at the flush
    QTest::newRow("cannot create") << true;
    QTest::newRow("device full") << false;
}

void TestBrowserWindow::unwritablePageKeepsThePreview()
{
    QFETCH(bool, asFolder);
    TProgramFolder folder;
    const QString path = folder.Path() + "tmp.html";
    TBrowserWindow window(folder.Path(), nullptr, {VYX_PLUGIN_DIR});
    WhileOpen(window, "Quor 51", "0A1B2C3D", [&] {
        QVERIFY(QFile::remove(path));
        QVERIFY(asFolder ? QDir().mkdir(path) : QFile::link("/dev/full", path));
        QSignalSpy loads(WebBrowser(window), SIGNAL(loadStarted()));
        QTest::keyClicks(Control<QLineEdit>(window, "Edit1"), "x");
        QCOMPARE(FReports.size(), 1);
        QVERIFY2(FReports.at(0).startsWith("Cannot write the certificate \"" + path + "\": "),
                 qPrintable(FReports.at(0)));
        QVERIFY(!QGuiApplication::overrideCursor());
        QTest::qWait(200);
        QCOMPARE(loads.count(), 0);
        QCOMPARE(WebBrowser(window)->property("title").toString(), PageTitle);
    });
}

void TestBrowserWindow::printsTheSamePdfAsVyxctl()
{
    if (QStandardPaths::findExecutable("pdfinfo").isEmpty() || QStandardPaths::findExecutable("pdftotext").isEmpty())
        QSKIP("poppler-utils (pdfinfo, pdftotext) is not installed");

    TProgramFolder folder;
    const QString pdf = folder.Path() + "certificate.pdf";
    TBrowserWindow window(folder.Path(), nullptr, {VYX_PLUGIN_DIR});
    WhileOpen(window, "Quor 51", "0A1B2C3D", [&] {
        // the print dialog's own choice: print to file, as PDF
        QTimer::singleShot(0, [&pdf] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->findChild<QLineEdit*>("filename")->setText(pdf);
            dialog->accept();
        });
        window.Button1Click();
        QVERIFY(window.isVisible());

        // a failed print raises, and the window stays open
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(folder.Path() + "missing/certificate.pdf");
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, window.PrintPage(printer));
        QVERIFY(window.isVisible());
        QVERIFY(Control<QPushButton>(window, "Button1")->isEnabled());
    });
    QVERIFY(FReports.isEmpty());

    const QString seen = PdfAsSeen(pdf);
    for (const QString& part : {QStringLiteral("Quor 51"), ShortDate(Date), QStringLiteral("0A1B2C3D"),
                                QStringLiteral("záruční lhůtu 24 měsíců")})
        QVERIFY2(seen.simplified().contains(part), qPrintable(part + " not in: " + seen));
    const QString linePdf = folder.Path() + "vyxctl.pdf";
    QProcess vyxctl;
    vyxctl.start(QStringLiteral(VYX_CTL), {"certificate", "--product", "Quor 51", "--serial", "0A1B2C3D", "--date",
                                           Date.date().toString(Qt::ISODate), "--out", linePdf});
    QVERIFY2(vyxctl.waitForFinished(60000) && vyxctl.exitCode() == 0, vyxctl.readAllStandardError().constData());
    QCOMPARE(PdfAsSeen(linePdf), seen);
}

void TestBrowserWindow::printButtonOpensTheCertificate()
{
    TProgramFolder folder("[Version]\r\nSetMaster=1\r\n");
    TMainWindow mainWindow(folder.Path());
    TBrowserWindow window(mainWindow.Folders().pageFolder, nullptr, {VYX_PLUGIN_DIR});
    mainWindow.SetBrowserWindow(&window);
    mainWindow.show();
    Control<QCheckBox>(mainWindow, "MasterReaderCB")->setChecked(true);
    // the field's number is the next module's; the certificate names the one read
    Control<QLineEdit>(mainWindow, "AppIDED")->setText("11111111");
    auto* printBtn = Control<QPushButton>(mainWindow, "PrintBtn");
    QVERIFY(!printBtn->isEnabled());
    TellSerialNumber(mainWindow, {0x00, 0xC0, 0xFF, 0xEE});
    QVERIFY(printBtn->isEnabled());

    bool seen = false;
    QTimer::singleShot(0, &window, [&] {
        const auto close = qScopeGuard([&window] { window.reject(); });
        QTRY_COMPARE_WITH_TIMEOUT(WebBrowser(window)->property("title").toString(), PageTitle, 30000);
        QCOMPARE(Control<QLineEdit>(window, "Edit1")->text(), "Quor 51");
        QCOMPARE(Control<QLineEdit>(window, "Edit3")->text(), "00C0FFEE");
        QCOMPARE(Control<QDateEdit>(window, "DateTimePicker1")->date(), QDate::currentDate());
        QCOMPARE(window.windowTitle(), "Náhled");
        // the page is drawn by the render process a little after it has loaded
        QTest::qWait(1000);
        SaveRendering(window, "certificate-window");
        seen = true;
    });
    QTest::mouseClick(printBtn, Qt::LeftButton);
    QVERIFY(seen);
    QVERIFY(!printBtn->isEnabled());
    // one certificate per configuration, however the master box is clicked
    Control<QCheckBox>(mainWindow, "MasterReaderCB")->setChecked(false);
    Control<QCheckBox>(mainWindow, "MasterReaderCB")->setChecked(true);
    QVERIFY(!printBtn->isEnabled());
    QVERIFY(QFile::exists(folder.Path() + "tmp.html"));
}

// A copy of the program without a loadable plug-in: the file and each folder's reason are named
void TestBrowserWindow::missingPlugInIsNamed()
{
    QTemporaryDir broken;
    QVERIFY(QFile::link(QCoreApplication::applicationFilePath(), broken.filePath("libvyxwebview.so")));
    TProgramFolder folder("[Version]\r\nSetMaster=1\r\n");
    TMainWindow mainWindow(folder.Path());
    TBrowserWindow window(mainWindow.Folders().pageFolder, nullptr, {QCoreApplication::applicationDirPath(), broken.path()});
    mainWindow.SetBrowserWindow(&window);
    Control<QCheckBox>(mainWindow, "MasterReaderCB")->setChecked(true);
    TellSerialNumber(mainWindow, {0x00, 0xC0, 0xFF, 0xEE});
    QTest::mouseClick(Control<QPushButton>(mainWindow, "PrintBtn"), Qt::LeftButton);
    const QStringList lines = FReports.value(0).split('\n');
    QCOMPARE(lines.value(0),
             "The certificate preview cannot be shown: its plug-in libvyxwebview.so could not be loaded.");
    QVERIFY(lines.contains(QCoreApplication::applicationDirPath() + ": not there"));
    QVERIFY2(lines.filter(QRegularExpression("^" + broken.path() + ": .*not a Qt plugin")).size() == 1,
             qPrintable(lines.join('\n')));
}

// A portable copy takes nothing from the folders around it; an installed one
// its installation's plug-in folder, then Qt's, each once.
void TestBrowserWindow::plugInFoldersStayWithTheProgram()
{
    const QString qt = "/usr/lib/x86_64-linux-gnu/qt6/plugins";
    const QStringList portable = PlugInFolders("/media/stick/Vyx/", false, {qt});
    QCOMPARE(portable, QStringList{"/media/stick/Vyx"});
    const QString own = PlugInFolders("/opt/vyx/bin", true, {}).value(0);
    QVERIFY2(own.startsWith("/opt/vyx/lib") && own.endsWith("/vyxvozeradavo/plugins"), qPrintable(own));
    const QStringList installed = PlugInFolders("/opt/vyx/bin", true, {qt, own + '/'});
    QCOMPARE(installed, (QStringList{own, qt}));
}

int main(int argc, char** argv)
{
    // the users' locale: day-first short dates, A4 paper in the print dialog
    qputenv("LC_ALL", "cs_CZ.UTF-8");
    TApplication application(argc, argv);
    TestBrowserWindow test;
    return QTest::qExec(&test, argc, argv);
}

void TestBrowserWindow::certificateFileIsNamedAfterItsModule()
{
    const QDir documents(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    QCOMPARE(CertificateFileName("0012a3ff"), documents.filePath("certificate-0012a3ff.pdf"));
    // typed by hand: never a folder of its own, never a name without its module
    QCOMPARE(CertificateFileName(" 12/34\\5 "), documents.filePath("certificate-12_34_5.pdf"));
    QCOMPARE(CertificateFileName(""), documents.filePath("certificate.pdf"));
}

#include "test_browserwindow.moc"
