// The configuration write from the window to the module simulator, a process
// of its own that keeps what it was written in a state file: over TCP and over
// a pty in both line forms.

#include "MainWindowTestSupport.h"
#include "tests/support/TestFiles.h"

#include "base/AppErrors.h"
#include "link/CommThreadU.h"
#include "session/ModuleSessionU.h"
#include "tests/support/DeadServer.h"
#include "tests/support/FastTiming.h"
#ifdef VYX_POSTGRES_BIN
#include "production/ProductionDatabaseU.h"
#include "tests/support/PostgresCluster.h"
#endif
#include "tests/support/SimProcess.h"
#include "ui/ProgressBarU.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRegularExpression>

#include <memory>

namespace {
constexpr int LinkWaitMs = 5000;
// 13 requests, one per send interval, and the read-back of the serial number
constexpr int WriteWaitMs = 5000;

// Everything but the line: non-default values, master reader on.
const QByteArray ReaderSettings = "[ReaderData]\nStrikeTime=9\nDoorAjarDelay=21\nReaderFunction=1\n"
                                  "TamperSignal=31\nForcedDoorSignal=32\nDoorAjarSignal=33\nBeepFunction=1\n"
                                  "Master=1\nLastAppID=000000FF\n[Version]\nSetMaster=1\n";

// The box texts the window reports while the object lives.
struct TReports : QStringList {
    TReports() { AppErrors::SetHandler([this](const QString& message) { append(message); }); }
    ~TReports() { AppErrors::SetHandler(nullptr); }
};
}

class TestWriteSim : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void writeReachesModule_data();
    void writeReachesModule();
    void replyFaultMidBatchFails_data();
    void replyFaultMidBatchFails();
    void batchEndsWithItsSession_data();
    void batchEndsWithItsSession();
    void secondWriteReportsWhenBothAreIn();
    void storedAppIDTooLongStaysWhole();
    void aDatabaseThatDoesNotAnswerHoldsOnlyTheWrite();
#ifdef VYX_POSTGRES_BIN
    void lineNumbersTheWindowsWrites();
#endif

private:
    void Start(const QString& line, bool wireLog = false, const QByteArray& moreSettings = {});

    QTemporaryDir FStateDir;
    std::unique_ptr<TSimProcess> FSimulator;
    std::unique_ptr<TProgramFolder> FFolder;
    std::unique_ptr<TMainWindow> FWindow;
};

void TestWriteSim::cleanup()
{
    FWindow.reset();
    FFolder.reset();
    FSimulator.reset();
    QFile::remove(FStateDir.filePath("module.ini")); // every test starts with a factory-new module
}

// The simulator and the window on the given line ("tcp", "pty8", "pty9"), the
// link open and the module's serial number read.
void TestWriteSim::Start(const QString& line, bool wireLog, const QByteArray& moreSettings)
{
    FSimulator = std::make_unique<TSimProcess>();
    QVERIFY(FSimulator->Start(QStringList{"--state", FStateDir.filePath("module.ini")} + SimLineArguments(line),
                              wireLog));
    FFolder = std::make_unique<TProgramFolder>(SimLineSettings(line, *FSimulator) + ReaderSettings + moreSettings);
    FWindow = std::make_unique<TMainWindow>(FFolder->Path());
    FWindow->Session().SetTiming(FastTiming());
    FWindow->show();
    Control<QAction>(*FWindow, "Start1")->trigger();
    // the information requests of the open are answered before the write starts
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(*FWindow, "Label2")->text(), QStringLiteral("sn: 0012A3FF"),
                              LinkWaitMs);
}

void TestWriteSim::writeReachesModule_data()
{
    AddSimLineRows();
}

void TestWriteSim::writeReachesModule()
{
    QFETCH(QString, line);
    Start(line);
    if (QTest::currentTestFailed())
        return;
    TMainWindow& window = *FWindow;
    Control<QLineEdit>(window, "AddCardED")->setText("1234");
    Control<QLineEdit>(window, "DelCardED")->setText("abcdef");
    auto* write = Control<QAction>(window, "WriteMI");
    QVERIFY(write->isEnabled());
    write->trigger();

    // the next serial number is taken and stored at once, before any reply
    QCOMPARE(Control<QLineEdit>(window, "AppIDED")->text(), QStringLiteral("010000ff"));
    QVERIFY(FFolder->Settings().contains("LastAppID=010000ff"));
    QCOMPARE(StatusText(window), QStringLiteral("Transfering data..."));
    auto* progress = Control<TProgressBar>(window, "ProgressBar1");
    QCOMPARE(progress->maximum(), 12);
    if (line == "tcp") {
        QTRY_VERIFY_WITH_TIMEOUT(progress->value() >= 6, WriteWaitMs);
        SaveRendering(window, "mainwindow-writing");
    }

    QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("Data transfer OK."), WriteWaitMs);
    QCOMPARE(progress->maximum(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: 000000FF"),
                              WriteWaitMs);
    if (line == "tcp")
        SaveRendering(window, "mainwindow-written");

    const QByteArray state = ReadFile(FStateDir.filePath("module.ini"));
    QCOMPARE(SimStateValue(state, "registers"), QStringLiteral("09 15 01 1F 20 21 00 00 00 FF 01"));
    QCOMPARE(SimStateValue(state, "plus-card"), QStringLiteral("0000000000001234"));
    QCOMPARE(SimStateValue(state, "minus-card"), QStringLiteral("0000000000ABCDEF"));
    QVERIFY(Control<QWidget>(window, "PrintBtn")->isEnabled());
    // the certificate names the module just written, not the next one
    QCOMPARE(window.CertificateSerialNumber(), QStringLiteral("000000FF"));
}

void TestWriteSim::replyFaultMidBatchFails_data()
{
    QTest::addColumn<QByteArray>("fault"); // a simulator fault, switched on and off
    QTest::newRow("no replies") << QByteArray("silent");
    QTest::newRow("every check word bad") << QByteArray("corrupt");
}

void TestWriteSim::replyFaultMidBatchFails()
{
    QFETCH(QByteArray, fault);
    Start("tcp");
    if (QTest::currentTestFailed())
        return;
    TMainWindow& window = *FWindow;
    Control<QLineEdit>(window, "AddCardED")->setText("1");
    Control<QLineEdit>(window, "DelCardED")->setText("2");
    Control<QAction>(window, "WriteMI")->trigger();
    auto* progress = Control<TProgressBar>(window, "ProgressBar1");
    QTRY_VERIFY_WITH_TIMEOUT(progress->value() >= 2, WriteWaitMs);
    FSimulator->Command(fault + " on");
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("Data transfer failed!"), WriteWaitMs);
    QCOMPARE(progress->value(), 0);
    QCOMPARE(progress->maximum(), 0);
    // which setting failed, and why, one look away
    static const QRegularExpression named(
        "^(door-ajar delay|reader function|tamper signal|forced-door signal|door-ajar signal|beep|serial number byte \\d"
        "|\"[+-]\" card) \\(request \\d+ of 13\\): (No reply from the module within 200 ms|Reply with a bad check word)");
    const QString tip = Control<QWidget>(window, "FriendlyStatusBar1")->toolTip();
    QVERIFY2(named.match(tip).hasMatch(), qPrintable("tool tip: " + tip));
    // the rest of the batch, answered late, does not turn the failure into success
    FSimulator->Command(fault + " off");
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: 000000FF"),
                              WriteWaitMs);
    QCOMPARE(StatusText(window), QStringLiteral("Data transfer failed!"));
}

void TestWriteSim::batchEndsWithItsSession_data()
{
    QTest::addColumn<QByteArray>("fault"); // simulator command; none: Stop right after Write
    QTest::newRow("Stop chosen right after Write") << QByteArray();
    QTest::newRow("device server closes the connection") << QByteArray("drop next");
}

// A Write batch that its link session cut off is a failed transfer, and after
// the next Start, perhaps at the next module, nothing of it goes out.
void TestWriteSim::batchEndsWithItsSession()
{
    QFETCH(QByteArray, fault);
    Start("tcp", true);
    if (QTest::currentTestFailed())
        return;
    TMainWindow& window = *FWindow;
    Control<QLineEdit>(window, "AddCardED")->setText("1");
    Control<QLineEdit>(window, "DelCardED")->setText("2");
    auto* start = Control<QAction>(window, "Start1");
    if (!fault.isEmpty())
        FSimulator->Command(fault);
    Control<QAction>(window, "WriteMI")->trigger();
    if (fault.isEmpty())
        start->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("Data transfer failed!"), WriteWaitMs);
    QCOMPARE(Control<TProgressBar>(window, "ProgressBar1")->maximum(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!window.CommThread().IsActive(), LinkWaitMs);
    // what went out before the close is in the log before this
    QTRY_VERIFY_WITH_TIMEOUT(FSimulator->Output().contains("client disconnected")
                                 || FSimulator->Output().contains("connection dropped"), LinkWaitMs);
    const qsizetype before = FSimulator->Output().size();
    start->trigger();
    // the information requests of the open went out behind anything still queued
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: 0012A3FF"),
                              WriteWaitMs);
    const QByteArray log = FSimulator->Output().mid(before);
    QVERIFY2(!log.contains("reg write") && !log.contains("master card"), log);
}

// A second Write while the first runs: one bar over both, and success only
// with the second batch's last reply (the "-" card).
void TestWriteSim::secondWriteReportsWhenBothAreIn()
{
    Start("tcp", true);
    if (QTest::currentTestFailed())
        return;
    TMainWindow& window = *FWindow;
    Control<QLineEdit>(window, "AddCardED")->setText("1");
    Control<QLineEdit>(window, "DelCardED")->setText("2");
    const qsizetype before = FSimulator->Output().size();
    auto* write = Control<QAction>(window, "WriteMI");
    write->trigger();
    write->trigger();
    QCOMPARE(Control<TProgressBar>(window, "ProgressBar1")->maximum(), 25);
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("Data transfer OK."), 2 * WriteWaitMs);
    QTest::qWait(300); // more than the time to the next request, had one been left
    QCOMPARE(FSimulator->Output().mid(before).count("master card addr 1 -"), 2);
}

void TestWriteSim::storedAppIDTooLongStaysWhole()
{
    QVERIFY(FStateDir.isValid());
    FSimulator = std::make_unique<TSimProcess>();
    QVERIFY(FSimulator->Start({"--tcp", "127.0.0.1:0"}));
    FFolder = std::make_unique<TProgramFolder>(SimLineSettings("tcp", *FSimulator)
                                               + "[ReaderData]\nMaster=1\nLastAppID=123456789\n"
                                                 "[Version]\nSetMaster=1\n");
    FWindow = std::make_unique<TMainWindow>(FFolder->Path());
    FWindow->show();
    auto* appID = Control<QLineEdit>(*FWindow, "AppIDED");
    QCOMPARE(appID->text(), QStringLiteral("123456789"));
    Control<QLineEdit>(*FWindow, "AddCardED")->setText("1");
    Control<QLineEdit>(*FWindow, "DelCardED")->setText("2");
    Control<QAction>(*FWindow, "Start1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(FWindow->CommThread().IsActive(), LinkWaitMs);
    QVERIFY(!Control<QAction>(*FWindow, "WriteMI")->isEnabled());

    // typing is still held to 8 digits
    appID->clear();
    QTest::keyClicks(appID, "ABCDEF0123");
    QCOMPARE(appID->text(), QStringLiteral("ABCDEF01"));
    QVERIFY(Control<QAction>(*FWindow, "WriteMI")->isEnabled());
}

// A line's database that does not answer holds the Write alone, until the
// connection times out, never the window.
void TestWriteSim::aDatabaseThatDoesNotAnswerHoldsOnlyTheWrite()
{
    TDeadServer server;
    QVERIFY(server.Filled());
    TReports reports;
    Start("tcp", true,
          "[Production]\nDatabase=postgresql://line@127.0.0.1:" + QByteArray::number(server.Port())
              + "/production?connect_timeout=2\n");
    if (QTest::currentTestFailed())
        return;
    TMainWindow& window = *FWindow;
    auto* write = Control<QAction>(window, "WriteMI");
    Control<QLineEdit>(window, "AddCardED")->setText("1");
    Control<QLineEdit>(window, "DelCardED")->setText("2");
    QElapsedTimer clicked;
    clicked.start();
    write->trigger();
    QVERIFY2(clicked.elapsed() < 1000, qPrintable(QString::number(clicked.elapsed())));
    QVERIFY(!write->isEnabled());
    QCOMPARE(StatusText(window), QStringLiteral("Waiting for the database..."));
    SaveRendering(window, "mainwindow-database-waiting");
    QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 10000);
    QVERIFY2(reports.first().contains("timeout expired"), qPrintable(reports.first()));
    QVERIFY(write->isEnabled());
}

#ifdef VYX_POSTGRES_BIN
// A station of a line: the database numbers the master writes and keeps
// their rows; while it is down, a Write is refused before any frame goes out,
// in the status bar and in a box, and once it is back the numbering goes on.
// A Write on top of another finishes both rows.
void TestWriteSim::lineNumbersTheWindowsWrites()
{
    TPostgresCluster cluster{QStringLiteral(VYX_POSTGRES_BIN)};
    QString why;
    QVERIFY2(cluster.Start(why), qPrintable(why));
    const QString url = cluster.Url("postgres");
    TProductionDatabase db(url);
    QVERIFY(db.Initialize(AppIDBytes("FE000000")));
    TReports reports;
    Start("tcp", true, "[Production]\nDatabase=" + url.toUtf8() + "\n");
    if (QTest::currentTestFailed())
        return;
    TMainWindow& window = *FWindow;
    Control<QLineEdit>(window, "AddCardED")->setText("1");
    Control<QLineEdit>(window, "DelCardED")->setText("2");
    auto* write = Control<QAction>(window, "WriteMI");
    auto* serial = Control<QLabel>(window, "Label2");
    Control<QLineEdit>(window, "AppIDED")->clear(); // a new station's: the line numbers its writes
    QVERIFY(write->isEnabled());
    write->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(serial->text(), QStringLiteral("sn: FE000000"), WriteWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(db.Records({}).value(0).state, QStringLiteral("ok"), WriteWaitMs);

    cluster.StopServer();
    const qsizetype before = FSimulator->Output().size();
    write->trigger();
    QTRY_COMPARE(reports.size(), 1);
    QVERIFY2(reports.first().startsWith("cannot connect to the production database"), qPrintable(reports.first()));
    SaveRendering(window, "mainwindow-database-refused");
    QTest::qWait(300); // more than a request's interval, had one gone out
    QVERIFY2(!FSimulator->Output().mid(before).contains("reg write"), FSimulator->Output().mid(before));
    // the polls' replies since have not taken the reason away
    QCOMPARE(StatusText(window), reports.first());

    QVERIFY2(cluster.StartServer(why), qPrintable(why));
    // a second Write before the first one's serial number is read back: both rows are finished
    write->trigger();
    QTRY_VERIFY(write->isEnabled()); // its row taken
    write->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(serial->text(), QStringLiteral("sn: 00010000"), 2 * WriteWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(db.Records({}).size() == 3 && db.Records({}).last().state == "ok", WriteWaitMs);
    const QList<TRecordRow> rows = db.Records({});
    for (const TRecordRow& row : rows) {
        QVERIFY2(row.state == "ok", qPrintable(row.state + ": " + row.failedSetting + ": " + row.reason));
        QCOMPARE(row.frontEnd, QStringLiteral("window"));
    }
    QVERIFY(rows.last().serialRead && rows.last().serialRead == rows.last().serialWritten);
    // the settings file's number is not the line's
    QVERIFY(FFolder->Settings().contains("LastAppID=000000FF"));

    // the window closed while a row is taken: that row, if any, says nothing was sent
    write->trigger();
    FWindow.reset();
    const QList<TRecordRow> closed = db.Records({}).mid(rows.size());
    QVERIFY(closed.size() <= 1);
    for (const TRecordRow& row : closed)
        QCOMPARE(row.state + ": " + row.reason, QStringLiteral("failed: Nothing was sent: the program ended"));
}
#endif

QTEST_MAIN(TestWriteSim)
#include "test_write_sim.moc"
