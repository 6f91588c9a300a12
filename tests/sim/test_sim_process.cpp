// The simulator as a process: started on a free TCP port and on a
// pseudo-terminal, asked for its status with the project's own codec.

#include "link/FrameCodec.h"
#include "module/ModuleRequestsU.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int StartTimeoutMs = 10000;
constexpr int ReplyTimeoutMs = 5000;

class TSimProcess {
public:
    explicit TSimProcess(const QStringList& args)
    {
        FProcess.setProgram(QStringLiteral(VYX_MODULE_SIM));
        FProcess.setArguments(args);
        QObject::connect(&FProcess, &QProcess::readyReadStandardOutput, [this] { FOutput += FProcess.readAllStandardOutput(); });
        QObject::connect(&FProcess, &QProcess::readyReadStandardError, [this] { FErrors += FProcess.readAllStandardError(); });
        FProcess.start();
    }
    ~TSimProcess()
    {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished(StartTimeoutMs);
        }
    }
    // The value after "listening tcp " or "listening pty "; empty when it never came.
    QString Listening(const QString& kind)
    {
        const QRegularExpression re(QStringLiteral("^listening %1 (\\S+)$").arg(kind), QRegularExpression::MultilineOption);
        QRegularExpressionMatch match;
        const bool ended = QTest::qWaitFor([&] {
            match = re.match(QString::fromLocal8Bit(FOutput));
            return match.hasMatch() || FProcess.state() == QProcess::NotRunning;
        }, StartTimeoutMs);
        return ended && match.hasMatch() ? match.captured(1) : QString();
    }
    quint16 TcpPort()
    {
        const QString endpoint = Listening(QStringLiteral("tcp"));
        return endpoint.isEmpty() ? 0 : quint16(endpoint.section(u':', -1).toUInt());
    }
    void Command(const QByteArray& line)
    {
        FProcess.write(line + '\n');
        FProcess.waitForBytesWritten(ReplyTimeoutMs);
    }
    bool WaitForOutput(const QByteArray& text)
    {
        return QTest::qWaitFor([&] { return FOutput.contains(text); }, ReplyTimeoutMs);
    }
    bool Finished(int& exitCode)
    {
        if (!FProcess.waitForFinished(StartTimeoutMs))
            return false;
        exitCode = FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1;
        return true;
    }
    QProcess& Process() { return FProcess; }
    const QByteArray& Errors() const { return FErrors; }

private:
    QProcess FProcess;
    QByteArray FOutput;
    QByteArray FErrors;
};

// One request over TCP, the reply judged by the tool's own 8-bit receiver.
std::optional<TJudgedReply> AskTcp(QTcpSocket& socket, const TByteString& body)
{
    TFramed8Receiver receiver;
    std::optional<TJudgedReply> judged;
    socket.write(EncodeFramed8(BuildFrame(body)));
    const bool answered = QTest::qWaitFor([&] {
        if (socket.bytesAvailable() > 0)
            judged = receiver.Feed(socket.readAll());
        return judged.has_value();
    }, ReplyTimeoutMs);
    return answered ? judged : std::nullopt;
}

TCanonicalFrame Good(const std::optional<TJudgedReply>& judged)
{
    return judged && std::holds_alternative<TGoodReply>(*judged) ? std::get<TGoodReply>(*judged).frame : TCanonicalFrame();
}

bool Connect(QTcpSocket& socket, quint16 port)
{
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(ReplyTimeoutMs);
}

// The slave end as the tool's serial port would see it: raw, no parity.
class TRawTerminal {
public:
    explicit TRawTerminal(const QString& path)
    {
        FFd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        struct termios raw {};
        if (FFd >= 0 && ::tcgetattr(FFd, &raw) == 0) {
            ::cfmakeraw(&raw);
            ::tcsetattr(FFd, TCSANOW, &raw);
        }
    }
    ~TRawTerminal()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    bool IsOpen() const { return FFd >= 0; }
    std::optional<TJudgedReply> Ask(const TByteString& line, bool nineBit)
    {
        TFramed8Receiver framed8;
        TNineBitReceiver nineBitReceiver;
        std::optional<TJudgedReply> judged;
        if (::write(FFd, line.constData(), size_t(line.size())) != line.size())
            return judged;
        const bool answered = QTest::qWaitFor([&] {
            char buffer[512];
            const ssize_t n = ::read(FFd, buffer, sizeof buffer);
            if (n > 0) {
                const TByteString chunk(buffer, n);
                judged = nineBit ? nineBitReceiver.Feed(chunk) : framed8.Feed(chunk);
            }
            return judged.has_value();
        }, ReplyTimeoutMs);
        return answered ? judged : std::nullopt;
    }

private:
    int FFd = -1;
};

} // namespace

class TestSimProcess : public QObject {
    Q_OBJECT

private slots:
    void tcpPollGetsTheStatusReply();
    void tcpConnectionCanBeDroppedAndRemade();
    void ptyPollInBothLineForms_data();
    void ptyPollInBothLineForms();
    void stateFileSurvivesARestart();
    void endOfInputStopsOnlyWhenAsked();
    void badCommandLineIsRefused_data();
    void badCommandLineIsRefused();
};

void TestSimProcess::tcpPollGetsTheStatusReply()
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--address", "1", "--address", "16"});
    const quint16 port = sim.TcpPort();
    QVERIFY2(port != 0, sim.Errors().constData());
    QTcpSocket socket;
    QVERIFY(Connect(socket, port));

    const TCanonicalFrame idle = Good(AskTcp(socket, ModuleRequests::Poll(1)));
    QCOMPARE(idle, BuildFrame(BytesOf({0x01, 0x0B, 0xB5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00})));

    sim.Command("select 16");
    sim.Command("card 0011223344556677");
    sim.Command("code 0c");
    sim.Command("relay on");
    QVERIFY(sim.WaitForOutput("relay on at the module at 16"));
    const TCanonicalFrame read = Good(AskTcp(socket, ModuleRequests::Poll(16)));
    QCOMPARE(read, BuildFrame(BytesOf({0x10, 0x0B, 0xB5, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x81, 0x0C})));
    QVERIFY(sim.WaitForOutput("status addr 16 flags 0x81 card 0011223344556677 code 0C"));

    sim.Command("quit");
    int exitCode = -1;
    QVERIFY(sim.Finished(exitCode));
    QCOMPARE(exitCode, 0);
}

void TestSimProcess::tcpConnectionCanBeDroppedAndRemade()
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--quiet"});
    const quint16 port = sim.TcpPort();
    QVERIFY(port != 0);
    {
        QTcpSocket socket;
        QVERIFY(Connect(socket, port));
        QVERIFY(!Good(AskTcp(socket, ModuleRequests::Poll(1))).isEmpty());
        sim.Command("drop now");
        QVERIFY(socket.state() == QAbstractSocket::UnconnectedState || socket.waitForDisconnected(ReplyTimeoutMs));
    }
    {
        QTcpSocket socket;
        QVERIFY(Connect(socket, port));
        sim.Command("drop next");
        QVERIFY(sim.WaitForOutput("drop after the next request"));
        socket.write(EncodeFramed8(BuildFrame(ModuleRequests::Poll(1))));
        QVERIFY(socket.waitForDisconnected(ReplyTimeoutMs));
        QCOMPARE(socket.bytesAvailable(), 0); // dropped, not answered
    }
    QTcpSocket socket;
    QVERIFY(Connect(socket, port));
    QVERIFY(!Good(AskTcp(socket, ModuleRequests::Poll(1))).isEmpty());
}

void TestSimProcess::ptyPollInBothLineForms_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("8-bit framed") << "8";
    QTest::newRow("9-bit") << "9";
}

void TestSimProcess::ptyPollInBothLineForms()
{
    QFETCH(QString, mode);
    const bool nineBit = mode == QLatin1String("9");
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyVYX0");
    TSimProcess sim({"--pty", link, "--mode", mode});
    const QString slave = sim.Listening(QStringLiteral("pty"));
    QVERIFY2(!slave.isEmpty(), sim.Errors().constData());
    QVERIFY(sim.WaitForOutput("link " + link.toLocal8Bit()));
    QCOMPARE(QFileInfo(link).symLinkTarget(), slave);

    const TCanonicalFrame poll = BuildFrame(ModuleRequests::Poll(1));
    const TByteString line = nineBit ? poll : EncodeFramed8(poll);
    if (!nineBit)
        QCOMPARE(line, BytesOf({0xAA, 0x01, 0x51, 0x02, 0x02, 0x01, 0x02, 0xA7, 0xFF}));
    for (int session = 0; session < 2; ++session) { // a client closing the line causes no hangup
        TRawTerminal terminal(link);
        QVERIFY(terminal.IsOpen());
        const TCanonicalFrame reply = Good(terminal.Ask(line, nineBit));
        QCOMPARE(reply.left(5), BytesOf({0x01, 0x0B, 0xB5, 0x00, 0x00}));
        QVERIFY(CheckFrame(reply));
    }

    ::kill(pid_t(sim.Process().processId()), SIGTERM);
    int exitCode = -1;
    QVERIFY(sim.Finished(exitCode));
    QCOMPARE(exitCode, 0);
    QVERIFY(!QFileInfo(link).isSymLink()); // removed at exit
}

void TestSimProcess::stateFileSurvivesARestart()
{
    QTemporaryDir dir;
    const QString state = dir.filePath("module.state");
    const QString portFile = dir.filePath("port");
    {
        TSimProcess sim({"--tcp", "127.0.0.1:0", "--state", state, "--port-file", portFile, "--quiet"});
        const quint16 port = sim.TcpPort();
        QVERIFY(port != 0);
        QFile file(portFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().trimmed().toUShort(), port);
        QTcpSocket socket;
        QVERIFY(Connect(socket, port));
        QVERIFY(!Good(AskTcp(socket, BytesOf({0x01, 0x02, 0x52, 0x00, 0x2A}))).isEmpty());
        sim.Command("quit");
        int exitCode = -1;
        QVERIFY(sim.Finished(exitCode));
    }
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--state", state, "--quiet"});
    const quint16 port = sim.TcpPort();
    QVERIFY2(port != 0, sim.Errors().constData());
    QTcpSocket socket;
    QVERIFY(Connect(socket, port));
    QCOMPARE(Good(AskTcp(socket, BytesOf({0x01, 0x01, 0x53, 0x00}))), BuildFrame(BytesOf({0x01, 0x02, 0xB7, 0x00, 0x2A})));

    QFile::remove(state);
    QFile broken(state);
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("[module]\naddress=99\n");
    broken.close();
    TSimProcess refused({"--tcp", "127.0.0.1:0", "--state", state});
    int exitCode = -1;
    QVERIFY(refused.Finished(exitCode));
    QCOMPARE(exitCode, 1);
    QVERIFY(refused.Errors().contains("line 2: address must be 1..16"));
}

void TestSimProcess::endOfInputStopsOnlyWhenAsked()
{
    TSimProcess stays({"--tcp", "127.0.0.1:0", "--quiet"});
    const quint16 port = stays.TcpPort();
    QVERIFY(port != 0);
    stays.Process().closeWriteChannel();
    QTcpSocket socket;
    QVERIFY(Connect(socket, port));
    QVERIFY(!Good(AskTcp(socket, ModuleRequests::Poll(1))).isEmpty());
    QCOMPARE(stays.Process().state(), QProcess::Running);

    TSimProcess stops({"--tcp", "127.0.0.1:0", "--exit-on-eof", "--quiet"});
    QVERIFY(stops.TcpPort() != 0);
    stops.Command("card 12  # the last line still counts");
    stops.Process().closeWriteChannel();
    int exitCode = -1;
    QVERIFY(stops.Finished(exitCode));
    QCOMPARE(exitCode, 0);
}

void TestSimProcess::badCommandLineIsRefused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("mode 7") << QStringList{"--mode", "7"} << "--mode 7: the line mode is 8 or 9";
    QTest::newRow("9-bit over tcp") << QStringList{"--mode", "9"} << "--mode 9 needs --pty";
    QTest::newRow("address 0") << QStringList{"--address", "0"} << "--address 0: bus addresses are 1..16";
    QTest::newRow("address twice") << QStringList{"--address=3", "--address", "3"} << "--address 3: given twice";
    QTest::newRow("bad host") << QStringList{"--tcp", "example:80"} << "--tcp example:80: expected PORT";
    QTest::newRow("port too big") << QStringList{"--tcp", "65536"} << "--tcp 65536: expected PORT";
    QTest::newRow("serial short") << QStringList{"--serial", "12A3FF"} << "--serial 12A3FF: expected 8 hex digits";
    QTest::newRow("firmware") << QStringList{"--firmware", "2"} << "--firmware 2: expected MAJOR.MINOR";
    QTest::newRow("no value") << QStringList{"--delay"} << "--delay needs a value";
    QTest::newRow("value on a flag") << QStringList{"--quiet=yes"} << "--quiet takes no value";
    QTest::newRow("both transports") << QStringList{"--tcp", "0", "--pty"} << "--tcp and --pty exclude each other";
    QTest::newRow("unknown") << QStringList{"--frobnicate"} << "unknown option --frobnicate";
    QTest::newRow("stray word") << QStringList{"now"} << "unexpected argument now";
}

void TestSimProcess::badCommandLineIsRefused()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    TSimProcess sim(args);
    int exitCode = -1;
    QVERIFY(sim.Finished(exitCode));
    QCOMPARE(exitCode, 2);
    QVERIFY2(sim.Errors().contains(message.toLocal8Bit()), sim.Errors().constData());
}

QTEST_GUILESS_MAIN(TestSimProcess)
#include "test_sim_process.moc"
