// vyxctl against the module simulator process, over TCP and over a pty in
// both line forms: its commands run here at a tenth of the module's pace, and
// the program itself for its exit status, signals and output streams.

#include "link/FrameCodec.h"
#include "tests/support/AsNobody.h"
#include "tests/support/DeadServer.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"
#include "module/ConfigurationWriteU.h"
#include "files/SettingsLockU.h"
#include "files/SettingsU.h"
#include "module/FrameDescriptionU.h"
#include "tests/support/FastTiming.h"
#include "tools/vyxctl/CtlCommands.h"
#include "tools/vyxctl/CtlOutput.h"
#include "ui/MainWindowU.h"

#include <QDate>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int RunWaitMs = 30000;

struct TRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// The process has its handler for the signal in place.
bool Catches(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}
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
    void lostModuleEndsTheWrite_data();
    void lostModuleEndsTheWrite();
    void scanWithTheLinkLostSaysWhere();
    void badCheckWordsAreNamed_data();
    void badCheckWordsAreNamed();
    void settingsFileHasOneHolder();
    void sharedInstallHasOneHolderToo();
    void settingsFromAPipeStopAtOnce();
    void assignMovesTheModule_data();
    void assignMovesTheModule();
    void assignByCardWaitsForTheCard_data();
    void assignByCardWaitsForTheCard();
    void statusAndWatchReportACard_data();
    void statusAndWatchReportACard();
    void exitStatus_data();
    void exitStatus();
    void certificateIsOnePdfPage();
    void scanFindsEveryModule_data();
    void scanFindsEveryModule();
    void scanOfASilentBusEndsInTime();
    void traceReadsAsTheWireLog();
    void closedOutputEndsAtOnce_data();
    void closedOutputEndsAtOnce();
    void certificateWithoutItsPlugInSaysWhy();
    void recordHasALinePerWrite();

private:
    void StartSimulator(const QString& line, const QStringList& extra = {});
    // vyxctl on the simulator's line with the test's settings file
    QStringList Line() const;
    TRun Run(const QStringList& args);
    // The command run in this process, at the tests' fast pace.
    TRun Here(const QStringList& args);
    void Start(QProcess& process, const QStringList& args);
    // Connection options for a line of the exit-status table.
    QStringList LineFor(const QString& line);

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
    // Qt says so on stderr where it is not set; vyxctl must not pass that on
    QProcessEnvironment environment = FastPaceEnvironment();
    environment.remove("XDG_RUNTIME_DIR");
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VYX_CTL), args);
    QVERIFY(process.waitForStarted());
}

TRun TestVyxctl::Run(const QStringList& args)
{
    QProcess process;
    Start(process, args);
    if (!process.waitForFinished(RunWaitMs))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

TRun TestVyxctl::Here(const QStringList& args)
{
    char* outText = nullptr;
    char* errText = nullptr;
    std::size_t outSize = 0;
    std::size_t errSize = 0;
    std::FILE* outStream = ::open_memstream(&outText, &outSize);
    std::FILE* errStream = ::open_memstream(&errText, &errSize);
    TRun run;
    try {
        const TCtlCommandLine cl = ParseCommandLine(args);
        TCtlOutput out(cl.json, outStream, errStream);
        run.exitCode = RunCommand(cl, out, FastTiming());
    } catch (const EUsage& e) {
        run.exitCode = CtlExit::Usage;
        std::fprintf(errStream, "vyxctl: %s\n", e.what());
    }
    std::fclose(outStream);
    std::fclose(errStream);
    run.out = QString::fromLocal8Bit(outText, qsizetype(outSize));
    run.err = QString::fromLocal8Bit(errText, qsizetype(errSize));
    std::free(outText);
    std::free(errText);
    return run;
}

void TestVyxctl::writeReachesModule_data()
{
    AddSimLineRows();
}

void TestVyxctl::writeReachesModule()
{
    QFETCH(QString, line);
    StartSimulator(line);
    const TRun run = Here(Line() + QStringList{"--json", "write", "--strike-time", "9", "--function", "button",
                                              "--beep", "off", "--master", "--app-id", "next", "--add-card",
                                              "1234", "--del-card", "abcdef"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(run.out.contains("\"serialNumber\":\"000000FF\""));
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
    const TRun run = Here({"--settings", FDir.filePath("settings.ini"), "--lan", "127.0.0.1:" + port, "--address",
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
    const TRun info = Here(Line() + QStringList{"info"});
    QVERIFY2(info.exitCode == 0, qPrintable(info.err));
    QCOMPARE(info.out, QStringLiteral("address 1: firmware 2.5, serial number 0012A3FF\n"));
    const TRun lightning = Here(Line() + QStringList{"--json", "lightning"});
    QVERIFY2(lightning.exitCode == 0, qPrintable(lightning.err));
    QCOMPARE(lightning.out, QStringLiteral("{\"address\":1}\n"));
}

void TestVyxctl::lostModuleEndsTheWrite_data()
{
    AddSimLineRows();
}

// The simulator killed mid-write: the link ends, and with it vyxctl's wait.
void TestVyxctl::lostModuleEndsTheWrite()
{
    QFETCH(QString, line);
    StartSimulator(line);
    // once the first of its 7 requests has reached the module
    QElapsedTimer sinceKill;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (sinceKill.isValid()
            || !SimStateValue(ReadFile(FDir.filePath("module.ini")), "registers").startsWith("09"))
            return;
        sinceKill.start();
        FSimulator->Kill();
    });
    watch.start(5);
    const TRun write = Here(Line() + QStringList{"write", "--strike-time", "9"});
    QVERIFY(sinceKill.isValid());
    QVERIFY(sinceKill.elapsed() < 1000); // a reply time-out and pacing at most
    QCOMPARE(write.exitCode, 1);
    QVERIFY2(write.err.contains("was lost: ") && write.err.contains("of 7 ("), qPrintable(write.err));
}

// The device server gone half way through a scan: what was found is listed,
// the addresses never asked get no verdict, and the exit status says so.
void TestVyxctl::scanWithTheLinkLostSaysWhere()
{
    StartSimulator("tcp", {"--address", "2", "--address", "9"});
    QTimer drop;
    drop.setSingleShot(true);
    connect(&drop, &QTimer::timeout, this, [this] { FSimulator->Command("drop now"); });
    // after the module at 2 and its five information requests, before 9
    drop.start(int(6 * (FastTiming().sendInterval + FastTiming().replyTimeout).count() / 2));
    const TRun run = Here(Line() + QStringList{"scan"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("was lost after addresses 1 to "), qPrintable(run.err));
    QVERIFY2(!run.out.contains("address 9") && !run.out.contains("NA"), qPrintable(run.out));
}

// Replies that all fail their check are named as such, within the link's time-outs.
void TestVyxctl::badCheckWordsAreNamed_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("reason");
    QTest::newRow("status") << QStringList{"status"} << "replied, but: Reply with a bad check word";
    QTest::newRow("scan") << QStringList{"scan", "--to", "4"} << "address 1 replied, but: Reply with a bad check word";
}

void TestVyxctl::badCheckWordsAreNamed()
{
    QFETCH(QStringList, command);
    QFETCH(QString, reason);
    StartSimulator("tcp", {"--corrupt", "1"});
    QElapsedTimer took;
    took.start();
    const TRun run = Here(Line() + command);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
    QVERIFY(took.elapsed() < 2000);
}

// The settings file hands out the serial numbers: one program holds it at a
// time, a holder that was killed leaves a lock the next one takes over.
void TestVyxctl::settingsFileHasOneHolder()
{
    const QString settings = FDir.filePath(SettingsFileName);
    WriteFile(settings, "[ReaderData]\nLastAppID=000000FF\n");
    QTcpServer silentModule;
    QVERIFY(silentModule.listen(QHostAddress::LocalHost));
    const auto masterWrite = [&](const QString& where) {
        return QStringList{"--settings", settings, "--lan", where, "--json", "write", "--master", "--app-id=next",
                           "--add-card=1", "--del-card=2"};
    };
    QProcess killed;
    Start(killed, masterWrite(QStringLiteral("127.0.0.1:%1").arg(silentModule.serverPort())));
    QVERIFY(silentModule.waitForNewConnection(5000)); // past the lock, waiting for a reply
    ::kill(pid_t(killed.processId()), SIGKILL);
    QVERIFY(killed.waitForFinished());
    auto window = std::make_unique<TMainWindow>(FDir.path());

    StartSimulator("tcp");
    const QByteArray stored = ReadFile(settings);
    const TRun refused = Run(masterWrite(FSimulator->Where()));
    QCOMPARE(refused.exitCode, 5);
    QVERIFY(refused.err.contains(QStringLiteral("in use by test_vyxctl (process %1 ").arg(::getpid())));
    // the window's close would save its own address over the new one
    QCOMPARE(Run({"--settings", settings, "--lan", FSimulator->Where(), "assign", "5"}).exitCode, 5);
    QCOMPARE(ReadFile(settings), stored);
    QVERIFY_THROWS_EXCEPTION(ESettingsLocked, TMainWindow(FDir.path()));

    window.reset();
    const TRun next = Run(masterWrite(FSimulator->Where()));
    QVERIFY2(next.exitCode == 0, qPrintable(next.err));
    // the number the killed write left for the next module, whether it got to store one or not
    QVERIFY(next.out.contains("\"serialNumber\":\"" + SimStateValue(stored, "LastAppID").toUpper() + "\""));
}

// A settings file in a folder its users may not write, each its own user:
// the file itself is locked, a holder that was killed holds nothing, and
// root, who may write the folder, still meets the others there.
void TestVyxctl::sharedInstallHasOneHolderToo()
{
    QVERIFY(QFile::setPermissions(FDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                    | QFile::ExeGroup | QFile::ExeOther));
    QVERIFY(QDir(FDir.path()).mkdir("shared"));
    const QString settings = FDir.filePath("shared/" + QString::fromLatin1(SettingsFileName));
    WriteFile(settings, "[ReaderData]\nLastAppID=000000FF\n");
    QCOMPARE(::chmod(QFile::encodeName(settings).constData(), 0666), 0);
    QTcpServer silentModule;
    QVERIFY(silentModule.listen(QHostAddress::LocalHost));
    const auto masterWrite = [&](const QString& where) {
        return QStringList{"--settings",    settings,       "--lan",        where, "write", "--master",
                           "--app-id=next", "--add-card=1", "--del-card=2"};
    };
    const QString silent = QStringLiteral("127.0.0.1:%1").arg(silentModule.serverPort());
    QProcess killed;
    {
        TAsNobody nobody(true);
        Start(killed, masterWrite(silent));
    }
    QVERIFY(silentModule.waitForNewConnection(5000)); // past the lock, waiting for a reply
    ::kill(pid_t(killed.processId()), SIGKILL);
    QVERIFY(killed.waitForFinished());

    StartSimulator("tcp");
    const QByteArray before = ReadFile(settings);
    TRun next;
    {
        TAsNobody daemon(true, "daemon");
        next = Run(masterWrite(FSimulator->Where()));
    }
    QVERIFY2(next.exitCode == 0, qPrintable(next.err));
    QVERIFY(ReadFile(settings) != before); // the next serial number, stored in place
    QVERIFY(!QFile::exists(settings + ".lock"));

    const TSettingsLock root(settings);
    TAsNobody nobody(true);
    const TRun refused = Run(masterWrite(silent));
    QCOMPARE(refused.exitCode, 5);
    QVERIFY2(refused.err.contains(QStringLiteral("in use by test_vyxctl (process %1 ").arg(::getpid())),
             qPrintable(refused.err));
}

// Read once, a pipe (the shell's <(cat settings.ini)) would give its settings
// and then nothing: it is refused before anything is sent.
void TestVyxctl::settingsFromAPipeStopAtOnce()
{
    QTcpServer module;
    QVERIFY(module.listen(QHostAddress::LocalHost));
    const QByteArray settings = QStringLiteral("[Communication]\nCommunicationMode=LAN\nIPAddress=127.0.0.1\nIPPort=%1\n")
                                    .arg(module.serverPort())
                                    .toLatin1();
    int pipeEnds[2];
    QCOMPARE(::pipe(pipeEnds), 0);
    QCOMPARE(::write(pipeEnds[1], settings.constData(), settings.size()), settings.size());
    ::close(pipeEnds[1]);
    const QString path = QStringLiteral("/dev/fd/%1").arg(pipeEnds[0]);
    const TRun run = Run({"--settings", path, "write", "--strike-time", "9"});
    ::close(pipeEnds[0]);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(path + " is no regular file"), qPrintable(run.err));
    QVERIFY(!module.waitForNewConnection(0));
}

void TestVyxctl::assignMovesTheModule_data()
{
    AddSimLineRows();
}

void TestVyxctl::assignMovesTheModule()
{
    QFETCH(QString, line);
    StartSimulator(line, {"--assign-mode"});
    // a script's own file: its other lines and keys stay as they are
    WriteFile(FDir.filePath("settings.ini"), "; line 3\n[Communication]\nhwaddress = 1\n[ReaderData]\nLastAppID=000000FF\n");
    const TRun run = Here(QStringList{"assign", "5"} + Line());
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(run.out.contains("address 5"));
    QCOMPARE(SimStateValue(ReadFile(FDir.filePath("module.ini")), "address"), QStringLiteral("5"));
    // the settings file follows the module, so the next command finds it
    QCOMPARE(ReadFile(FDir.filePath("settings.ini")),
             QByteArray("; line 3\n[Communication]\nhwaddress=5\n[ReaderData]\nLastAppID=000000FF\n"));
    const TRun status = Here(Line() + QStringList{"status"});
    QVERIFY2(status.exitCode == 0, qPrintable(status.err));
    QVERIFY(status.out.startsWith("address 5:"));
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
    const TRun status = Here(Line() + QStringList{"--json", "status"});
    QCOMPARE(status.exitCode, 0);
    QVERIFY(status.out.contains("\"lastCard\":\"0011223344556677\""));
    QVERIFY(status.out.contains("\"tamper\":true"));

    QTimer::singleShot(300, this, [this] { FSimulator->Command("card 99"); });
    const TRun watch = Here(Line() + QStringList{"watch", "--seconds", "1"});
    QCOMPARE(watch.exitCode, 0);
    QVERIFY2(watch.out.contains("last card 0000000000000099, code 00 (new)"), qPrintable(watch.out));
    if (line != "tcp")
        return;
    // --json: the event log's lines, with the window's log's fields
    QTimer::singleShot(300, this, [this] { FSimulator->Command("card 98"); });
    QTimer::singleShot(500, this, [this] { FSimulator->Command("tamper off"); });
    const TRun json = Here(Line() + QStringList{"--json", "watch", "--seconds", "1"});
    QStringList events;
    for (const QString& event : json.out.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject fields = QJsonDocument::fromJson(event.toUtf8()).object();
        events << fields["event"].toString() + '(' + fields.keys().join(',') + ')';
    }
    QVERIFY2(events.contains("card(address,card,code,event,time)")
                 && events.contains("change(address,event,signal,state,time)"), qPrintable(json.out));
}

QStringList TestVyxctl::LineFor(const QString& line)
{
    const QStringList settings{"--settings", FDir.filePath("settings.ini")};
    if (line == "module" || line == "silent" || line == "bad check word") {
        StartSimulator("tcp", line == "silent"           ? QStringList{"--silent"}
                              : line == "bad check word" ? QStringList{"--corrupt", "1"}
                                                         : QStringList{});
        // a module that does not answer costs a reply time-out per request
        return line == "module" ? Line() : Line() + QStringList{"--reply-timeout", "200"};
    }
    if (line == "refused") {
        QTcpServer closed; // a port that was free a moment ago
        closed.listen(QHostAddress::LocalHost);
        return settings + QStringList{"--lan", QStringLiteral("127.0.0.1:%1").arg(closed.serverPort())};
    }
    if (line == "unknown host")
        return settings + QStringList{"--lan", "no-such-host.invalid:10000"};
    if (line == "missing device") {
        WriteFile(FDir.filePath("settings.ini"), "[Ports]\nCOM3=" + FDir.filePath("no-tty").toLocal8Bit() + "\n");
        return settings + QStringList{"--serial", "COM3"};
    }
    return settings; // "none": the command goes no further than its values
}

void TestVyxctl::exitStatus_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("interruptAfter"); // empty: not interrupted; "*": once it catches SIGINT
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");
    const QString noAnswer = "no answer from the module at address 1 on 127.0.0.1:";
    const QString pdf = FDir.filePath("certificate.pdf");

    QTest::newRow("status, silent") << "silent" << QStringList{"status"} << "" << 1 << noAnswer;
    QTest::newRow("info, silent") << "silent" << QStringList{"info"} << "" << 1 << noAnswer;
    QTest::newRow("watch, silent") << "silent" << QStringList{"watch", "--seconds", "2"} << "" << 1 << noAnswer;
    QTest::newRow("write, silent") << "silent" << QStringList{"write"} << "" << 1 << "request 1 of 7 (strike time) was not answered";
    QTest::newRow("assign, silent") << "silent" << QStringList{"assign", "5", "--wait", "1"} << "" << 1
                                    << "no module answered at address 5 within 1 s";
    QTest::newRow("assign-by-card, silent") << "silent" << QStringList{"assign-by-card", "5", "--wait", "1"} << ""
                                            << 1 << "no module answered at address 5 within 1 s";
    QTest::newRow("lightning, silent") << "silent" << QStringList{"lightning"} << "" << 1 << noAnswer;
    QTest::newRow("write, bad check word") << "bad check word" << QStringList{"write"} << "" << 1
                                           << "Reply with a bad check word";
    QTest::newRow("lightning, bad check word") << "bad check word" << QStringList{"lightning"} << "" << 1
                                               << "Reply with a bad check word";

    QTest::newRow("watch, Ctrl+C") << "module" << QStringList{"watch"} << "address 1:" << 130 << "interrupted";
    QTest::newRow("watch --seconds, Ctrl+C") << "module" << QStringList{"watch", "--seconds", "60"} << "address 1:"
                                             << 130 << "interrupted";
    QTest::newRow("assign-by-card, Ctrl+C") << "module" << QStringList{"assign-by-card", "5"}
                                            << "present the service card" << 130 << "interrupted";
    QTest::newRow("Ctrl+C while connecting") << "dead server" << QStringList{"status"} << "*" << 130
                                             << "interrupted while opening 127.0.0.1:";

    QTest::newRow("status, bad address") << "none" << QStringList{"status", "--address", "17"} << "" << 2
                                         << "\"17\" is not a whole number from 1 to 16";
    QTest::newRow("info, bad mode") << "none" << QStringList{"info", "--mode", "7"} << "" << 2 << "neither 8 nor 9";
    QTest::newRow("watch, bad time") << "none" << QStringList{"watch", "--seconds", "0"} << "" << 2
                                     << "--seconds: \"0\" is not a whole number";
    QTest::newRow("write, bad value") << "none" << QStringList{"write", "--strike-time", "300"} << "" << 2
                                      << "\"300\" is not a whole number from 0 to 255";
    QTest::newRow("write, equal cards") << "none"
                                        << QStringList{"write", "--master", "--app-id", "next", "--add-card", "12",
                                                       "--del-card", "12"}
                                        << "" << 2 << "the same";
    QTest::newRow("assign, bad address") << "none" << QStringList{"assign", "17"} << "" << 2 << "NEW_ADDRESS";
    QTest::newRow("assign-by-card, bad card") << "none" << QStringList{"assign-by-card", "5", "--card", "zz"} << ""
                                              << 2 << "--card: \"zz\"";
    QTest::newRow("misspelt settings file, the later wins")
        << "none" << QStringList{"--settings", FDir.filePath("lin.ini"), "write"} << "" << 2
        << FDir.filePath("lin.ini") + " does not exist";
    QTest::newRow("lightning, bad host") << "none" << QStringList{"lightning", "--lan", "nohost"} << "" << 2
                                         << "is not HOST:PORT";
    QTest::newRow("certificate, serial not hex")
        << "none" << QStringList{"certificate", "--out", pdf, "--serial", "zz"} << "" << 2 << "not 8 hex digits";
    QTest::newRow("certificate, serial too short")
        << "none" << QStringList{"certificate", "--out", pdf, "--serial", "12"} << "" << 2 << "not 8 hex digits";
    QTest::newRow("certificate, misspelt settings file")
        << "none" << QStringList{"--settings", FDir.filePath("lin.ini"), "certificate", "--out", pdf, "--serial", "0012a3ff"}
        << "" << 2 << FDir.filePath("lin.ini") + " does not exist";
    QTest::newRow("certificate, not a PDF")
        << "none" << QStringList{"certificate", "--out", "x.txt", "--serial", "0012a3ff"} << "" << 2
        << "does not end in .pdf";

    QTest::newRow("refused connection") << "refused" << QStringList{"status"} << "" << 3
                                        << "refused the connection";
    QTest::newRow("unknown host") << "unknown host" << QStringList{"status"} << "" << 3 << "no-such-host.invalid";
    QTest::newRow("missing device") << "missing device" << QStringList{"status"} << "" << 3
                                    << "(COM3; settings: " + FDir.filePath("settings.ini") + ")";
}

// Every status means one thing for every command, and stderr carries
// vyxctl's own lines only.
void TestVyxctl::exitStatus()
{
    QFETCH(QString, line);
    QFETCH(QStringList, command);
    QFETCH(QString, interruptAfter);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    TDeadServer dead;
    QStringList args = LineFor(line);
    if (line == "dead server") {
        QVERIFY(dead.Filled());
        args << "--lan" << QStringLiteral("127.0.0.1:%1").arg(dead.Port());
    }

    QProcess ctl;
    Start(ctl, args + command);
    QByteArray out, err;
    if (interruptAfter == "*") {
        QVERIFY(QTest::qWaitFor([&] { return Catches(ctl.processId(), SIGINT); }, 5000));
    } else if (!interruptAfter.isEmpty()) {
        QVERIFY(QTest::qWaitFor([&] {
            out += ctl.readAllStandardOutput();
            err += ctl.readAllStandardError();
            return (out + err).contains(interruptAfter.toUtf8());
        }, 10000));
    }
    if (!interruptAfter.isEmpty())
        ::kill(pid_t(ctl.processId()), SIGINT);
    QVERIFY(ctl.waitForFinished(RunWaitMs));
    const QString reasons = QString::fromLocal8Bit(err + ctl.readAllStandardError());
    QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
    QCOMPARE(ctl.exitCode(), exitCode);
    QVERIFY2(reasons.contains(reason), qPrintable(reasons));
    for (const QString& errLine : reasons.split('\n', Qt::SkipEmptyParts))
        QVERIFY2(errLine.startsWith("vyxctl: "), qPrintable(reasons));
}

void TestVyxctl::certificateIsOnePdfPage()
{
    const QString pdf = FDir.filePath("certificate.pdf");
    // without --serial: the one the last master write used, LastAppID being the next
    WriteFile(FDir.filePath("settings.ini"), "[ReaderData]\nLastAppID=0112a3ff\n");
    const TRun run = Run({"--settings", FDir.filePath("settings.ini"), "certificate", "--out", pdf, "--date",
                          "2026-12-08"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    // the web engine's and Qt's diagnostics only with --verbose
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
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
    QVERIFY2(page.contains("0012A3FF"), qPrintable(page));
    QVERIFY(page.contains("Quor 51"));
    QVERIFY(page.contains("24 měsíců"));
    QVERIFY(page.contains(QLocale::system().toString(QDate(2026, 12, 8), QLocale::ShortFormat)));
    QCOMPARE(Run({"certificate", "--serial", "0012a3ff", "--out", FDir.filePath("missing/c.pdf")}).exitCode, 6);
}

void TestVyxctl::scanFindsEveryModule_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("from");
    // the first address asked is the one the link polls by itself
    QTest::newRow("tcp, first address answers") << "tcp" << "3";
    QTest::newRow("pty, 9-bit, first address silent") << "pty9" << "2";
}

void TestVyxctl::scanFindsEveryModule()
{
    QFETCH(QString, line);
    QFETCH(QString, from);
    StartSimulator(line, {"--address", "3", "--address", "7", "--address", "12"});
    const TRun run = Here(Line() + QStringList{"--json", "scan", "--from", from, "--to", "12"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(run.out, QStringLiteral("{\"address\":3,\"firmware\":\"2.5\",\"serialNumber\":\"0012A3FF\"}\n"
                                     "{\"address\":7,\"firmware\":\"2.5\",\"serialNumber\":\"0112A3FF\"}\n"
                                     "{\"address\":12,\"firmware\":\"2.5\",\"serialNumber\":\"0212A3FF\"}\n"));
}

// one time-out per address and no more
void TestVyxctl::scanOfASilentBusEndsInTime()
{
    StartSimulator("tcp", {"--silent"});
    QElapsedTimer took;
    took.start();
    const TRun run = Here(Line() + QStringList{"scan"});
    QVERIFY2(took.elapsed() < 14000, qPrintable(QString::number(took.elapsed())));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains("no module answered at addresses 1 to 16"), qPrintable(run.err));
}

// What vyxctl sends the simulator receives, and the other way round, with the
// same bytes and the same meaning.
void TestVyxctl::traceReadsAsTheWireLog()
{
    QProcess sim;
    const QString portFile = FDir.filePath("trace-port");
    sim.start(QStringLiteral(VYX_MODULE_SIM), {"--tcp", "127.0.0.1:0", "--port-file", portFile});
    QVERIFY(QTest::qWaitFor([&] { return !ReadFile(portFile).isEmpty(); }, 5000));
    const QString port = QString::fromLatin1(ReadFile(portFile)).trimmed();
    const TRun run = Run({"--settings", FDir.filePath("settings.ini"), "--lan", "127.0.0.1:" + port, "--trace", "info"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    sim.terminate();
    QVERIFY(sim.waitForFinished());

    // "  433 rx  AA 01 ...  meaning" without the time, the other side's direction
    auto frames = [](const QString& log, bool swap) {
        QStringList lines;
        static const QRegularExpression line("^ *\\d+ (rx|tx)  (.*)$", QRegularExpression::MultilineOption);
        for (auto m = line.globalMatch(log); m.hasNext();) {
            const auto match = m.next();
            lines << ((match.captured(1) == "rx") != swap ? "request " : "reply ") + match.captured(2);
        }
        return lines;
    };
    const QStringList traced = frames(run.err, true);
    QCOMPARE(traced.size(), 10);
    QCOMPARE(traced, frames(QString::fromLocal8Bit(sim.readAllStandardOutput()), false));
}

void TestVyxctl::closedOutputEndsAtOnce_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("pipe"); // its reader: one that reads a line, or one gone before the first
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");
    QTest::newRow("watch") << QStringList{"watch"} << "| head -n 1" << 0 << "";
    QTest::newRow("scan") << QStringList{"scan", "--to", "1"} << "| true" << 141 << "";
    // the trace is written by the link's own threads
    QTest::newRow("trace") << QStringList{"--trace", "status"} << "2>&1 >/dev/null | true" << 141 << "";
    QTest::newRow("full disk") << QStringList{"status"} << ">/dev/full" << 4
                               << "vyxctl: cannot write the output: No space left on device\n";
}

// "| head -n 1": the next line that cannot be written ends vyxctl, quietly;
// any other failed write with its reason.
void TestVyxctl::closedOutputEndsAtOnce()
{
    QFETCH(QStringList, command);
    QFETCH(QString, pipe);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    StartSimulator("tcp");
    QProcess shell;
    shell.setProcessEnvironment(FastPaceEnvironment());
    const QString script = QStringLiteral("\"$0\" \"$@\" %1; echo \"exit ${PIPESTATUS[0]}\"").arg(pipe);
    shell.start("bash", QStringList{"-c", script, QStringLiteral(VYX_CTL)} + Line() + command);
    QVERIFY(shell.waitForReadyRead(5000)); // head's line, or the end
    QElapsedTimer sinceRead;
    sinceRead.start();
    FSimulator->Command("card 99"); // watch's next line
    QVERIFY(shell.waitForFinished(RunWaitMs));
    QVERIFY2(sinceRead.elapsed() < 1000, qPrintable(QString::number(sinceRead.elapsed())));
    const QStringList out = QString::fromLocal8Bit(shell.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(out.value(out.size() - 1), QStringLiteral("exit %1").arg(exitCode));
    QCOMPARE(QString::fromLocal8Bit(shell.readAllStandardError()), reason);
}

// A command line PC without the web engine's package: the certificate names
// where it looked, and every other command runs as before.
void TestVyxctl::certificateWithoutItsPlugInSaysWhy()
{
    const QString alone = FDir.filePath("vyxctl");
    QVERIFY(QFile::copy(QStringLiteral(VYX_CTL), alone));
    QProcess ctl;
    ctl.start(alone, {"certificate", "--serial", "0012a3ff", "--out", FDir.filePath("c.pdf")});
    QVERIFY(ctl.waitForFinished(RunWaitMs));
    QCOMPARE(ctl.exitCode(), 6);
    const QString err = QString::fromLocal8Bit(ctl.readAllStandardError());
    QVERIFY2(err.startsWith("vyxctl: the certificate needs the web engine's plug-in libvyxctlpdf.so"), qPrintable(err));
    QVERIFY2(err.contains("vyxctl: " + FDir.path() + ": not there\n"), qPrintable(err));
    QVERIFY(!QFile::exists(FDir.filePath("c.pdf")));
}

// One good write and one that the module stops answering halfway.
void TestVyxctl::recordHasALinePerWrite()
{
    StartSimulator("tcp");
    const QString record = FDir.filePath("record.jsonl");
    const TRun good = Here(Line() + QStringList{"write", "--master", "--app-id", "next", "--add-card", "1234",
                                               "--del-card", "5678", "--record", record});
    QVERIFY2(good.exitCode == 0, qPrintable(good.err));
    QProcess failing;
    Start(failing, Line() + QStringList{"--trace", "write", "--record", record});
    QByteArray trace;
    QVERIFY(QTest::qWaitFor([&] { return (trace += failing.readAllStandardError()).contains("reg write addr 1 0x02"); },
                            5000));
    FSimulator->Command("silent on");
    QVERIFY(failing.waitForFinished(RunWaitMs));
    QCOMPARE(failing.exitCode(), 1);

    const QList<QByteArray> lines = ReadFile(record).split('\n');
    QCOMPARE(lines.size(), 3); // the last one ends with its newline
    QJsonParseError error;
    const QJsonObject done = QJsonDocument::fromJson(lines[0], &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(done["result"].toString(), "done");
    QCOMPARE(done["serialNumber"].toString(), "000000FF");
    QCOMPARE(done["appId"].toString(), "000000FF");
    QCOMPARE(done["registers"].toObject().size(), 11);
    QVERIFY(QDateTime::fromString(done["time"].toString(), Qt::ISODateWithMs).isValid());
    const QJsonObject failed = QJsonDocument::fromJson(lines[1], &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(failed["result"].toString(), "failed");
    QVERIFY(failed["serialNumber"].isNull());
    const QJsonObject request = failed["failedRequest"].toObject();
    const int number = request["number"].toInt();
    QVERIFY2(number >= 3 && number <= 7, qPrintable(lines[1]));
    QCOMPARE(request["request"].toString(),
             DescribeRequest(BuildFrame(ConfigurationWrite(1, TReaderConfiguration{})[number - 1])));
}

QTEST_MAIN(TestVyxctl)
#include "test_vyxctl.moc"
