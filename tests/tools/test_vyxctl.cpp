// vyxctl end to end: the program itself against the module simulator process,
// over TCP and over a pty in both line forms, with its exit status.

#include "link/FrameCodec.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"
#include "module/ConfigurationWriteU.h"

#include <QDate>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr int RunWaitMs = 30000;

struct TRun {
    int exitCode = -1;
    QString out;
    QString err;
};

}

class TestVyxctl : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void writeReachesModule_data();
    void writeReachesModule();
    void writeSendsTheWindowsRequests();
    void infoAndLightning_data();
    void infoAndLightning();
    void interruptEndsCleanly();
    void assignMovesTheModule_data();
    void assignMovesTheModule();
    void assignByCardWaitsForTheCard_data();
    void assignByCardWaitsForTheCard();
    void statusAndWatchReportACard_data();
    void statusAndWatchReportACard();
    void exitStatus_data();
    void exitStatus();
    void certificateIsOnePdfPage();

private:
    void StartSimulator(const QString& line, const QStringList& extra = {});
    // vyxctl on the simulator's line with the test's settings file
    QStringList Line() const;
    TRun Run(const QStringList& args);
    void Start(QProcess& process, const QStringList& args);

    QTemporaryDir FDir;
    std::unique_ptr<TSimProcess> FSimulator;
    QString FLine;
};

void TestVyxctl::init()
{
    QVERIFY(FDir.isValid());
    WriteFile(FDir.filePath("settings.ini"), "[ReaderData]\nLastAppID=000000FF\n");
}

void TestVyxctl::cleanup()
{
    FSimulator.reset();
    QFile::remove(FDir.filePath("module.ini"));
}

void TestVyxctl::StartSimulator(const QString& line, const QStringList& extra)
{
    FLine = line;
    FSimulator = std::make_unique<TSimProcess>();
    QStringList args{"--state", FDir.filePath("module.ini")};
    QVERIFY(FSimulator->Start(args + SimLineArguments(line) + extra));
}

QStringList TestVyxctl::Line() const
{
    QStringList args{"--settings", FDir.filePath("settings.ini")};
    if (FLine == "tcp")
        return args << "--lan" << FSimulator->Where();
    return args << "--serial" << FSimulator->Where() << "--mode" << FLine.right(1);
}

void TestVyxctl::Start(QProcess& process, const QStringList& args)
{
    process.start(QStringLiteral(VYX_CTL), args);
    QVERIFY(process.waitForStarted());
}

TRun TestVyxctl::Run(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral(VYX_CTL), args);
    if (!process.waitForFinished(RunWaitMs))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

void TestVyxctl::writeReachesModule_data()
{
    AddSimLineRows();
}

void TestVyxctl::writeReachesModule()
{
    QFETCH(QString, line);
    StartSimulator(line);
    const TRun run = Run(Line() + QStringList{"--json", "write", "--strike-time", "9", "--function", "button",
                                              "--beep", "off", "--master", "--app-id", "next", "--add-card",
                                              "1234", "--del-card", "abcdef"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(run.out.contains("\"serialNumber\":\"000000ff\""));
    const QByteArray state = ReadFile(FDir.filePath("module.ini"));
    QCOMPARE(SimStateValue(state, "registers"), QStringLiteral("09 14 01 1E 1E 1E 00 00 00 FF 01"));
    QCOMPARE(SimStateValue(state, "plus-card"), QStringLiteral("0000000000001234"));
    QCOMPARE(SimStateValue(state, "minus-card"), QStringLiteral("0000000000ABCDEF"));
    QVERIFY(ReadFile(FDir.filePath("settings.ini")).contains("LastAppID=010000ff"));
}

// The wire log of the simulator shows the bytes as they crossed the line.
void TestVyxctl::writeSendsTheWindowsRequests()
{
    QProcess sim;
    sim.start(QStringLiteral(VYX_MODULE_SIM), {"--tcp", "127.0.0.1:0", "--address", "3", "--port-file",
                                               FDir.filePath("port")});
    QVERIFY(QTest::qWaitFor([&] { return !ReadFile(FDir.filePath("port")).isEmpty(); }, 5000));
    const QString port = QString::fromLatin1(ReadFile(FDir.filePath("port"))).trimmed();
    WriteFile(FDir.filePath("settings.ini"), "");
    const TRun run = Run({"--settings", FDir.filePath("settings.ini"), "--lan", "127.0.0.1:" + port, "--address",
                          "3", "write"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    sim.terminate();
    QVERIFY(sim.waitForFinished());

    QStringList writes;
    for (const QByteArray& line : sim.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        // "ms rx AA 03 52 ..." : the register writes as received
        if (words.size() > 4 && words[1] == "rx" && words[4] == "52")
            writes << QString::fromLatin1(words.mid(2).join(' ').left(3 * 9 - 1));
    }
    QStringList expected;
    for (const TByteString& body : ConfigurationWrite(3, TReaderConfiguration{}))
        expected << QString::fromLatin1(EncodeFramed8(BuildFrame(body)).toHex(' ').toUpper());
    QCOMPARE(writes, expected);
}

void TestVyxctl::infoAndLightning_data()
{
    AddSimLineRows();
}

void TestVyxctl::infoAndLightning()
{
    QFETCH(QString, line);
    StartSimulator(line);
    const TRun info = Run(Line() + QStringList{"info"});
    QVERIFY2(info.exitCode == 0, qPrintable(info.err));
    QCOMPARE(info.out, QStringLiteral("address 1: firmware 2.5, serial number 0012A3FF\n"));
    const TRun lightning = Run(Line() + QStringList{"--json", "lightning"});
    QVERIFY2(lightning.exitCode == 0, qPrintable(lightning.err));
    QCOMPARE(lightning.out, QStringLiteral("{\"address\":1}\n"));
}

// Ctrl+C ends a watch as its normal end, the link closed
void TestVyxctl::interruptEndsCleanly()
{
    StartSimulator("tcp");
    QProcess watch;
    Start(watch, Line() + QStringList{"watch"});
    QVERIFY(QTest::qWaitFor([&] { return watch.bytesAvailable() > 0; }, 5000));
    ::kill(pid_t(watch.processId()), SIGINT);
    QVERIFY(watch.waitForFinished(5000));
    QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watch.exitCode(), 0);
}

void TestVyxctl::assignMovesTheModule_data()
{
    AddSimLineRows();
}

void TestVyxctl::assignMovesTheModule()
{
    QFETCH(QString, line);
    StartSimulator(line, {"--assign-mode"});
    const TRun run = Run(Line() + QStringList{"assign", "5"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(run.out.contains("address 5"));
    QCOMPARE(SimStateValue(ReadFile(FDir.filePath("module.ini")), "address"), QStringLiteral("5"));
}

void TestVyxctl::assignByCardWaitsForTheCard_data()
{
    AddSimLineRows();
}

void TestVyxctl::assignByCardWaitsForTheCard()
{
    QFETCH(QString, line);
    StartSimulator(line);
    QProcess ctl;
    Start(ctl, Line() + QStringList{"assign-by-card", "7", "--card", "1234", "--wait", "20"});
    QVERIFY(QTest::qWaitFor([&] { return ctl.readAllStandardError().contains("present the service card"); }, 5000));
    // the request has to reach the module before the card does
    QVERIFY(FSimulator->WaitForStatus("armed for 7", 5000));
    FSimulator->Command("card 1234");
    QVERIFY(ctl.waitForFinished(RunWaitMs));
    QCOMPARE(ctl.exitCode(), 0);
    QCOMPARE(SimStateValue(ReadFile(FDir.filePath("module.ini")), "address"), QStringLiteral("7"));
}

void TestVyxctl::statusAndWatchReportACard_data()
{
    AddSimLineRows();
}

void TestVyxctl::statusAndWatchReportACard()
{
    QFETCH(QString, line);
    StartSimulator(line);
    FSimulator->Command("tamper on");
    FSimulator->Command("card 0011223344556677");
    const TRun status = Run(Line() + QStringList{"--json", "status"});
    QCOMPARE(status.exitCode, 0);
    QVERIFY(status.out.contains("\"lastCard\":\"0011223344556677\""));
    QVERIFY(status.out.contains("\"tamper\":true"));

    QProcess watch;
    Start(watch, Line() + QStringList{"watch", "--seconds", "3"});
    QVERIFY(QTest::qWaitFor([&] { return watch.bytesAvailable() > 0; }, 5000));
    FSimulator->Command("card 99");
    QVERIFY(watch.waitForFinished(RunWaitMs));
    QCOMPARE(watch.exitCode(), 0);
    QVERIFY(QString::fromLocal8Bit(watch.readAllStandardOutput()).contains("last card 0000000000000099, code 00 (new)"));
}

void TestVyxctl::exitStatus_data()
{
    QTest::addColumn<QStringList>("simulator"); // empty: nothing listens
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");
    QTest::newRow("silent module") << QStringList{"--silent"} << QStringList{"status"} << 1 << "no answer";
    QTest::newRow("bad value") << QStringList{""} << QStringList{"write", "--strike-time", "300"} << 2
                               << "\"300\" is not a whole number from 0 to 255";
    QTest::newRow("equal cards") << QStringList{""}
                                 << QStringList{"write", "--master", "--app-id", "next", "--add-card", "12",
                                                "--del-card", "12"}
                                 << 2 << "the same";
    QTest::newRow("refused connection") << QStringList{} << QStringList{"status"} << 3 << "Connection refused: 127.0.0.1:";
}

void TestVyxctl::exitStatus()
{
    QFETCH(QStringList, simulator);
    QFETCH(QStringList, command);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    QStringList line{"--settings", FDir.filePath("settings.ini")};
    if (simulator.isEmpty()) {
        QTcpServer closed; // a port that was free a moment ago
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        line << "--lan" << QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    } else {
        simulator.removeAll(QString());
        StartSimulator("tcp", simulator);
        line = Line();
    }
    const TRun run = Run(line + command);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
}

void TestVyxctl::certificateIsOnePdfPage()
{
    const QString pdf = FDir.filePath("certificate.pdf");
    // without --serial: the one the last master write used, LastAppID being the next
    WriteFile(FDir.filePath("settings.ini"), "[ReaderData]\nLastAppID=0112a3ff\n");
    const TRun run = Run({"--settings", FDir.filePath("settings.ini"), "certificate", "--out", pdf, "--date",
                          "2026-12-08"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QProcess info;
    info.start("pdfinfo", {pdf});
    QVERIFY(info.waitForFinished());
    const QString infoText = QString::fromLocal8Bit(info.readAllStandardOutput());
    QVERIFY2(infoText.contains(QRegularExpression("Pages:\\s+1\\n")), qPrintable(infoText));
    QVERIFY(infoText.contains("(A4)"));
    QProcess text;
    text.start("pdftotext", {pdf, "-"});
    QVERIFY(text.waitForFinished());
    const QString page = QString::fromUtf8(text.readAllStandardOutput());
    QVERIFY2(page.contains("0012a3ff"), qPrintable(page));
    QVERIFY(page.contains("Quor 51"));
    QVERIFY(page.contains("24 měsíců"));
    QVERIFY(page.contains(QLocale::system().toString(QDate(2026, 12, 8), QLocale::ShortFormat)));
    QCOMPARE(Run({"certificate", "--serial", "0012a3ff", "--out", FDir.filePath("missing/c.pdf")}).exitCode, 5);
}

QTEST_GUILESS_MAIN(TestVyxctl)
#include "test_vyxctl.moc"
