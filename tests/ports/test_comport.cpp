// TComPort on real pseudo-terminal pairs: the test holds the master side and
// the port opens the slave by its path. What a pty cannot show (parity on the
// wire, failing system calls) goes through the recording seam of ComPortPosix.

#include "ports/ComPort.h"
#include "ports/ComPortPosix.h"
#include "ports/PortNames.h"
#include "tests/support/ThreadCount.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using ComPortPosix::TLineSettings;

namespace {

// One pseudo-terminal pair; the master stays with the test.
class TPty {
public:
    TPty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            qFatal("posix_openpt failed: %s", strerror(errno));
        char name[128] = {};
        if (::ptsname_r(master, name, sizeof name) != 0)
            qFatal("ptsname_r failed");
        slavePath = QString::fromLocal8Bit(name);
    }
    ~TPty() { CloseMaster(); }
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;

    void CloseMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    void Write(const QByteArray& data) const
    {
        qsizetype done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(master, data.constData() + done, size_t(data.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{master, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else if (n < 0 && errno != EINTR) {
                qFatal("write to the pty master failed: %s", strerror(errno));
            }
        }
    }

    // Reads until count bytes have come or the time is up.
    QByteArray Read(qsizetype count, int timeoutMs = 2000) const
    {
        QByteArray out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = ::read(master, buf, std::min<size_t>(sizeof buf, size_t(count - out.size())));
            if (n > 0)
                out.append(buf, n);
        }
        return out;
    }

    int master = -1;
    QString slavePath;
};

QByteArray AllByteValues()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    return all;
}

double ProcessCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// CPU time the whole process spends over a quiet stretch of wall time.
double CpuMsOver(std::chrono::milliseconds wall)
{
    const double before = ProcessCpuMs();
    std::this_thread::sleep_for(wall);
    return ProcessCpuMs() - before;
}

// Records the port's system calls (and forwards them to the system), or fails
// the ones a test picks.
class TRecorder : public ComPortPosix::ISystemCalls {
public:
    struct TCall {
        std::string name;
        unsigned long request = 0; // ioctl
        int action = 0;            // tcsetattr
        tcflag_t cflag = 0;        // tcsetattr
        std::size_t size = 0;      // write
    };
    // Returns the errno the call is to fail with, or 0.
    using TFailure = std::function<int(const TCall&)>;

    TRecorder() : FPrevious(ComPortPosix::SetSystemCalls(this)) {}
    ~TRecorder() override { ComPortPosix::SetSystemCalls(FPrevious); }

    std::vector<TCall> Calls() const
    {
        std::lock_guard lock(FLock);
        return FCalls;
    }
    // Only the calls that decide what the line sends.
    std::vector<TCall> LineCalls() const
    {
        std::vector<TCall> out;
        for (const TCall& c : Calls())
            if (c.name == "tcdrain" || c.name == "tcsetattr" || c.name == "write")
                out.push_back(c);
        return out;
    }
    void Clear()
    {
        std::lock_guard lock(FLock);
        FCalls.clear();
    }
    void FailWith(TFailure failure)
    {
        std::lock_guard lock(FLock);
        FFailure = std::move(failure);
    }

    int Open(const char* path, int flags) override
    {
        return Run({"open"}, [&] { return FReal.Open(path, flags); });
    }
    int Close(int fd) override
    {
        return Run({"close"}, [&] { return FReal.Close(fd); });
    }
    int Flock(int fd, int operation) override
    {
        return Run({"flock"}, [&] { return FReal.Flock(fd, operation); });
    }
    int Ioctl(int fd, unsigned long request, void* arg) override
    {
        return Run({"ioctl", request}, [&] { return FReal.Ioctl(fd, request, arg); });
    }
    int Tcgetattr(int fd, termios* t) override
    {
        return Run({"tcgetattr"}, [&] { return FReal.Tcgetattr(fd, t); });
    }
    int Tcsetattr(int fd, int action, const termios* t) override
    {
        return Run({"tcsetattr", 0, action, t->c_cflag}, [&] { return FReal.Tcsetattr(fd, action, t); });
    }
    int Tcdrain(int fd) override
    {
        return Run({"tcdrain"}, [&] { return FReal.Tcdrain(fd); });
    }
    int Tcflush(int fd, int queue) override
    {
        return Run({"tcflush"}, [&] { return FReal.Tcflush(fd, queue); });
    }
    ssize_t Write(int fd, const void* data, std::size_t size) override
    {
        return Run({"write", 0, 0, 0, size}, [&] { return FReal.Write(fd, data, size); });
    }
    ssize_t Read(int fd, void* data, std::size_t size) override
    {
        return Run({"read"}, [&] { return FReal.Read(fd, data, size); });
    }

private:
    template <class F>
    auto Run(TCall call, F real) -> decltype(real())
    {
        TFailure failure;
        {
            std::lock_guard lock(FLock);
            FCalls.push_back(call);
            failure = FFailure;
        }
        if (failure)
            if (const int e = failure(call)) {
                errno = e;
                return -1;
            }
        return real();
    }

    ComPortPosix::ISystemCalls& FReal = ComPortPosix::RealSystemCalls();
    ComPortPosix::ISystemCalls* FPrevious;
    mutable std::mutex FLock;
    std::vector<TCall> FCalls;
    TFailure FFailure;
};

// Counts the port's events; OnRxChar reads what it is told about.
struct TEventLog {
    explicit TEventLog(TComPort& port)
    {
        port.OnAfterOpen = [this](TComPort*) {
            std::lock_guard lock(mutex);
            order.push_back("open");
            ++opened;
        };
        port.OnAfterClose = [this](TComPort*) {
            std::lock_guard lock(mutex);
            order.push_back("close");
            ++closed;
        };
        port.OnRxChar = [this](TComPort* sender, int count) {
            ++rxEvents;
            if (count <= 0)
                zeroCounts.fetch_add(1);
            TByteString data;
            sender->ReadBytes(data, count);
            std::lock_guard lock(mutex);
            received.append(data);
            receivedSize = received.size();
        };
        port.OnLineLost = [this](TComPort*, int errnoValue) {
            lostErrno = errnoValue;
            ++lost;
        };
    }
    QByteArray Received()
    {
        std::lock_guard lock(mutex);
        return received;
    }
    std::vector<std::string> Order()
    {
        std::lock_guard lock(mutex);
        return order;
    }

    std::mutex mutex;
    std::vector<std::string> order;
    QByteArray received;
    std::atomic<int> opened{0}, closed{0}, rxEvents{0}, zeroCounts{0}, lost{0}, lostErrno{-100};
    std::atomic<qsizetype> receivedSize{0};
};

// The link's settings. DTR on: a pty refuses the modem-line ioctls, so every
// open here also shows that a device without modem lines opens all the same.
void ConfigureAsLink(TComPort& port, const QString& path)
{
    port.SetPort(path);
    port.SetBaudRate(TBaudRate::br19200);
    port.SetDataBits(TDataBits::dbEight);
    port.SetStopBits(TStopBits::sbOneStopBit);
    port.SetControlDTR(TDTRFlowControl::dtrEnable);
    port.SetSyncMethod(TSyncMethod::smNone);
}

constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;

} // namespace

Q_DECLARE_METATYPE(TParityBits)
Q_DECLARE_METATYPE(TDataBits)
Q_DECLARE_METATYPE(TStopBits)
Q_DECLARE_METATYPE(TBaudRate)

class TestComPort : public QObject {
    Q_OBJECT
private slots:
    void messageTexts_data();
    void messageTexts();
    void systemErrorSuffix_data();
    void systemErrorSuffix();
    void defaults();

    void termiosParity_data();
    void termiosParity();
    void termiosRawLine();
    void termiosDataAndStopBits_data();
    void termiosDataAndStopBits();
    void termiosSpeeds_data();
    void termiosSpeeds();

    void portNames();

    void openAndCloseFireEventsOnce();
    void bytesBothWays();
    void readBytesReturnsWhatIsThere();
    void rxCharNeverWithZero();
    void unreadBytesDoNotSpin();
    void writeEmptyMakesNoSystemCall();
    void largeWriteWaitsForRoom();
    void portThatDoesNotExist();
    void secondOpenIsRefused();
    void farEndClosing();
    void lineLostHandlerMayClose();
    void closeWhileHandlerReads();
    void syncMethodWhileOpen();
    void settersCompareFirst();
    void parityDrainsBeforeSwitching();
    void everyParitySwitchOnAPty();
    void lineThatStopsTakingBytes();
    void markSpaceIsReadBack();
    void setPortReopens();
    void failingSystemCalls();
    void threadsTogether();
};

// ---- messages ---------------------------------------------------------------

void TestComPort::messageTexts_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    const char* texts[] = {
        "Unable to open com port", "WriteFile function failed", "ReadFile function failed",
        "Invalid Async parameter", "PurgeComm function failed", "Unable to get async status",
        "SetCommState function failed", "SetCommTimeouts failed", "SetupComm function failed",
        "ClearCommError function failed", "GetCommModemStatus function failed",
        "EscapeCommFunction function failed", "TransmitCommChar function failed",
        "Cannot set property while connected", "EnumPorts function failed", "Failed to store settings",
        "Failed to load settings", "Link (un)registration failed",
        "Cannot change led state if ComPort is selected", "Cannot wait for event if event thread is created",
        "WaitForEvent method failed", "A component is linked to OnRxBuf event", "Registry error",
    };
    for (int i = 0; i < 23; ++i)
        QTest::addRow("%d", i + 1) << i + 1 << QString::fromLatin1(texts[i]);
}

void TestComPort::messageTexts()
{
    QFETCH(int, number);
    QFETCH(QString, text);
    QCOMPARE(EComPort::MessageText(number), text);
    const EComPort plain(number, -1);
    QCOMPARE(QString::fromUtf8(plain.what()), text);
    QCOMPARE(plain.ErrorNumber(), number);
    QCOMPARE(plain.SystemError(), -1);
}

void TestComPort::systemErrorSuffix_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("systemError");
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("keptSystemError");
    QTest::newRow("open") << 1 << 2 << "Unable to open com port (error 2: No such file or directory)" << 2;
    QTest::newRow("line") << 7 << 5 << "SetCommState function failed (error 5: Input/output error)" << 5;
    // 14 never carries a system error, whatever is passed.
    QTest::newRow("while connected") << 14 << 5 << "Cannot set property while connected" << -1;
}

void TestComPort::systemErrorSuffix()
{
    QFETCH(int, number);
    QFETCH(int, systemError);
    QFETCH(QString, what);
    QFETCH(int, keptSystemError);
    const EComPort e(number, systemError);
    QCOMPARE(QString::fromUtf8(e.what()), what);
    QCOMPARE(e.ErrorNumber(), number);
    QCOMPARE(e.SystemError(), keptSystemError);
}

void TestComPort::defaults()
{
    TComPort port;
    QCOMPARE(port.Port(), QStringLiteral("COM1"));
    QCOMPARE(port.BaudRate(), TBaudRate::br9600);
    QCOMPARE(port.DataBits(), TDataBits::dbEight);
    QCOMPARE(port.StopBits(), TStopBits::sbOneStopBit);
    QCOMPARE(port.Parity(), TParityBits::prNone);
    QCOMPARE(port.ControlDTR(), TDTRFlowControl::dtrDisable);
    QCOMPARE(port.SyncMethod(), TSyncMethod::smThreadSync);
    QVERIFY(!port.Connected());
}

// ---- the pure translation ---------------------------------------------------

namespace {
// Whatever a previous program left on the line: every bit the port owns set
// the wrong way.
termios DirtyBase()
{
    termios t{};
    t.c_iflag = IGNPAR | IXON | IXOFF | IXANY | INPCK | ISTRIP | ICRNL | INLCR | IGNCR | PARMRK | BRKINT;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    return t;
}

TLineSettings LinkLine(TParityBits parity)
{
    TLineSettings s;
    s.BaudRate = TBaudRate::br19200;
    s.Parity = parity;
    s.ControlDTR = TDTRFlowControl::dtrEnable;
    return s;
}
} // namespace

void TestComPort::termiosParity_data()
{
    QTest::addColumn<TParityBits>("parity");
    QTest::addColumn<uint>("cflag"); // of PARENB | PARODD | CMSPAR
    QTest::newRow("none") << TParityBits::prNone << uint(0);
    QTest::newRow("odd") << TParityBits::prOdd << uint(PARENB | PARODD);
    QTest::newRow("even") << TParityBits::prEven << uint(PARENB);
    QTest::newRow("mark") << TParityBits::prMark << uint(PARENB | CMSPAR | PARODD);
    QTest::newRow("space") << TParityBits::prSpace << uint(PARENB | CMSPAR);
}

void TestComPort::termiosParity()
{
    QFETCH(TParityBits, parity);
    QFETCH(uint, cflag);
    // From a clean record and from one that MARK/SPACE has used: CMSPAR and
    // PARODD never stick.
    termios clean{};
    for (const termios& base : {clean, DirtyBase()}) {
        const std::optional<termios> t = ComPortPosix::ToTermios(LinkLine(parity), base);
        QVERIFY(t);
        QCOMPARE(uint(t->c_cflag & kParityBits), cflag);
        // Received parity is ignored whatever goes out, and no byte is
        // dropped for it (IGNPAR off, which a dirty base had on).
        QVERIFY(!(t->c_iflag & IGNPAR));
        QVERIFY(!(t->c_iflag & INPCK));
        QVERIFY(!(t->c_iflag & PARMRK));
    }
}

void TestComPort::termiosRawLine()
{
    const std::optional<termios> t = ComPortPosix::ToTermios(LinkLine(TParityBits::prEven), DirtyBase());
    QVERIFY(t);
    QCOMPARE(t->c_cflag & CSIZE, tcflag_t(CS8));
    QVERIFY(!(t->c_cflag & CSTOPB));
    QVERIFY(!(t->c_cflag & CRTSCTS));
    QVERIFY(t->c_cflag & CREAD);
    QVERIFY(t->c_cflag & CLOCAL);
    QCOMPARE(t->c_iflag & (IXON | IXOFF | IXANY), tcflag_t(0));
    QCOMPARE(t->c_iflag & (ISTRIP | ICRNL | INLCR | IGNCR | BRKINT), tcflag_t(0));
    QVERIFY(!(t->c_oflag & OPOST));
    QCOMPARE(t->c_lflag & (ICANON | ECHO | ECHOE | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(int(t->c_cc[VMIN]), 0);
    QCOMPARE(int(t->c_cc[VTIME]), 0);
    QCOMPARE(cfgetospeed(&*t), speed_t(B19200));
    QCOMPARE(cfgetispeed(&*t), speed_t(B19200));
}

void TestComPort::termiosDataAndStopBits_data()
{
    QTest::addColumn<TDataBits>("dataBits");
    QTest::addColumn<TStopBits>("stopBits");
    QTest::addColumn<uint>("csize");
    QTest::addColumn<bool>("cstopb");
    QTest::newRow("8N1") << TDataBits::dbEight << TStopBits::sbOneStopBit << uint(CS8) << false;
    QTest::newRow("7N2") << TDataBits::dbSeven << TStopBits::sbTwoStopBits << uint(CS7) << true;
    QTest::newRow("6N1") << TDataBits::dbSix << TStopBits::sbOneStopBit << uint(CS6) << false;
    QTest::newRow("5N1.5") << TDataBits::dbFive << TStopBits::sbOne5StopBits << uint(CS5) << true;
}

void TestComPort::termiosDataAndStopBits()
{
    QFETCH(TDataBits, dataBits);
    QFETCH(TStopBits, stopBits);
    QFETCH(uint, csize);
    QFETCH(bool, cstopb);
    TLineSettings s;
    s.DataBits = dataBits;
    s.StopBits = stopBits;
    const std::optional<termios> t = ComPortPosix::ToTermios(s, DirtyBase());
    QVERIFY(t);
    QCOMPARE(uint(t->c_cflag & CSIZE), csize);
    QCOMPARE(bool(t->c_cflag & CSTOPB), cstopb);
}

void TestComPort::termiosSpeeds_data()
{
    QTest::addColumn<TBaudRate>("rate");
    QTest::addColumn<int>("custom");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<uint>("speed");
    QTest::newRow("9600") << TBaudRate::br9600 << 0 << false << uint(B9600);
    QTest::newRow("19200") << TBaudRate::br19200 << 0 << false << uint(B19200);
    QTest::newRow("115200") << TBaudRate::br115200 << 0 << false << uint(B115200);
    QTest::newRow("custom 230400") << TBaudRate::brCustom << 230400 << false << uint(B230400);
    // termios has no constant for these: refused, not rounded.
    QTest::newRow("14400") << TBaudRate::br14400 << 9600 << true << 0u;
    QTest::newRow("56000") << TBaudRate::br56000 << 9600 << true << 0u;
    QTest::newRow("256000") << TBaudRate::br256000 << 9600 << true << 0u;
    QTest::newRow("custom 12345") << TBaudRate::brCustom << 12345 << true << 0u;
}

void TestComPort::termiosSpeeds()
{
    QFETCH(TBaudRate, rate);
    QFETCH(int, custom);
    QFETCH(bool, refused);
    QFETCH(uint, speed);
    TLineSettings s;
    s.BaudRate = rate;
    s.CustomBaudRate = custom;
    const std::optional<termios> t = ComPortPosix::ToTermios(s, termios{});
    QCOMPARE(!t, refused);
    if (t) {
        QCOMPARE(uint(cfgetospeed(&*t)), speed);
        QCOMPARE(uint(cfgetispeed(&*t)), speed);
    }
}

// ---- port names -------------------------------------------------------------

void TestComPort::portNames()
{
    PortNames::SetConfiguredPaths({});
    const char* defaults[] = {"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0",
                              "/dev/ttyACM1", "/dev/ttyS1", "/dev/ttyUSB2", "/dev/ttyUSB3"};
    for (int n = 1; n <= 8; ++n)
        QCOMPARE(PortNames::DevicePath(QStringLiteral("COM%1").arg(n)), QString::fromLatin1(defaults[n - 1]));
    QCOMPARE(PortNames::DevicePath(QStringLiteral("com3")), QStringLiteral("/dev/ttyUSB1"));
    QCOMPARE(PortNames::DevicePath(QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0")),
             QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"));
    QCOMPARE(PortNames::DevicePath(QStringLiteral("ttyUSB5")), QStringLiteral("/dev/ttyUSB5"));
    QCOMPARE(PortNames::DevicePath(QStringLiteral("COM9")), QStringLiteral("/dev/COM9"));

    PortNames::SetConfiguredPaths({{QStringLiteral("com2"), QStringLiteral(" /dev/serial/by-id/adapter ")},
                                   {QStringLiteral("COM5"), QStringLiteral("")}});
    QCOMPARE(PortNames::DevicePath(QStringLiteral("COM2")), QStringLiteral("/dev/serial/by-id/adapter"));
    QCOMPARE(PortNames::DevicePath(QStringLiteral("Com2")), QStringLiteral("/dev/serial/by-id/adapter"));
    QCOMPARE(PortNames::DevicePath(QStringLiteral("COM5")), QStringLiteral("/dev/ttyACM1")); // empty: default
    QCOMPARE(PortNames::ConfiguredPaths().keys(), QStringList{QStringLiteral("COM2")});
    PortNames::SetConfiguredPaths({});
    QCOMPARE(PortNames::DevicePath(QStringLiteral("COM2")), QStringLiteral("/dev/ttyUSB0"));
}

// ---- on a pty ---------------------------------------------------------------

void TestComPort::openAndCloseFireEventsOnce()
{
    // Close on a closed port and Open on an open one do nothing, events included.
    TPty pty;
    TComPort port;
    TEventLog log(port);
    ConfigureAsLink(port, pty.slavePath);
    port.Close();
    QCOMPARE(log.closed.load(), 0);
    port.Open();
    port.Open();
    QVERIFY(port.Connected());
    QCOMPARE(log.opened.load(), 1);
    QCOMPARE(log.closed.load(), 0);
    port.Close();
    port.Close();
    QVERIFY(!port.Connected());
    QCOMPARE(log.opened.load(), 1);
    QCOMPARE(log.closed.load(), 1);
    // And again: a port opens more than once.
    port.Open();
    QVERIFY(port.Connected());
    port.Close();
    QCOMPARE(log.Order(), (std::vector<std::string>{"open", "close", "open", "close"}));
}

void TestComPort::bytesBothWays()
{
    TPty pty;
    TComPort port;
    TEventLog log(port);
    ConfigureAsLink(port, pty.slavePath);
    port.SetParity(TParityBits::prEven);
    port.Open();

    // Every byte value, CR, LF, XON, XOFF, ^C and 0xFF included, passes unchanged.
    const QByteArray all = AllByteValues();
    QCOMPARE(port.WriteBytes(all), 256);
    QCOMPARE(pty.Read(256), all);

    pty.Write(all);
    QTRY_COMPARE(log.receivedSize.load(), qsizetype(256));
    QCOMPARE(log.Received(), all);
    QCOMPARE(log.zeroCounts.load(), 0);
    port.Close();
}

void TestComPort::readBytesReturnsWhatIsThere()
{
    TPty pty;
    TComPort port;
    ConfigureAsLink(port, pty.slavePath);
    port.Open();
    const QByteArray four = QByteArray::fromHex("aa01ff00");
    pty.Write(four);
    QTRY_COMPARE(port.PendingInputCount(), 4);

    TByteString data = "junk that must go";
    const auto start = std::chrono::steady_clock::now();
    QCOMPARE(port.ReadBytes(data, 10), 4);
    const auto took = std::chrono::steady_clock::now() - start;
    QCOMPARE(data, four);
    QVERIFY2(took < 100ms, "ReadBytes waited for bytes that were not there");

    QCOMPARE(port.ReadBytes(data, 10), 0);
    QVERIFY(data.isEmpty());
    QCOMPARE(port.PendingInputCount(), 0);
    port.Close();
}

void TestComPort::rxCharNeverWithZero()
{
    TPty pty;
    TComPort port;
    TEventLog log(port);
    ConfigureAsLink(port, pty.slavePath);
    port.Open();
    qsizetype total = 0;
    for (int i = 1; i <= 20; ++i) {
        pty.Write(QByteArray(i, char(i)));
        total += i;
        if (i % 5 == 0)
            QTRY_COMPARE(log.receivedSize.load(), total);
    }
    QTRY_COMPARE(log.receivedSize.load(), total);
    QVERIFY(log.rxEvents.load() > 0);
    QCOMPARE(log.zeroCounts.load(), 0);
    port.Close();
}

void TestComPort::unreadBytesDoNotSpin()
{
    // A handler that reads nothing: POLLIN stays set, the thread must not spin
    // on it, and new bytes are reported with the whole count, as on Windows.
    TPty pty;
    TComPort port;
    std::vector<int> counts;
    std::mutex countsLock;
    port.OnRxChar = [&](TComPort*, int count) {
        std::lock_guard lock(countsLock);
        counts.push_back(count);
    };
    ConfigureAsLink(port, pty.slavePath);
    port.Open();
    pty.Write("12345");
    QTRY_COMPARE(port.PendingInputCount(), 5);
    QTRY_VERIFY([&] {
        std::lock_guard lock(countsLock);
        return !counts.empty();
    }());
    const double cpu = CpuMsOver(200ms);
    QVERIFY2(cpu < 40, qPrintable(QStringLiteral("CPU %1 ms in 200 ms").arg(cpu)));
    pty.Write("678");
    QTRY_VERIFY([&] {
        std::lock_guard lock(countsLock);
        return !counts.empty() && counts.back() == 8;
    }());
    {
        std::lock_guard lock(countsLock);
        QVERIFY2(counts.size() <= 3, "the same unread bytes were reported again and again");
        QCOMPARE(counts.front(), 5);
    }
    port.Close();
}

void TestComPort::writeEmptyMakesNoSystemCall()
{
    TPty pty;
    TRecorder recorder;
    TComPort port;
    QCOMPARE(port.WriteBytes(TByteString()), 0); // closed, too
    ConfigureAsLink(port, pty.slavePath);
    port.Open();
    recorder.Clear();
    QCOMPARE(port.WriteBytes(TByteString()), 0);
    QVERIFY(recorder.Calls().empty());
    port.Close();
}

void TestComPort::largeWriteWaitsForRoom()
{
    // Far more than the pty holds: WriteBytes waits for room (EAGAIN, POLLOUT)
    // while the far end reads, and returns the whole count.
    TPty pty;
    TComPort port;
    ConfigureAsLink(port, pty.slavePath);
    port.Open();
    QByteArray big(200000, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + i / 256);
    QByteArray got;
    std::thread reader([&] { got = pty.Read(big.size(), 20000); });
    const int written = port.WriteBytes(big);
    reader.join();
    QCOMPARE(written, int(big.size()));
    QCOMPARE(got.size(), big.size());
    QVERIFY(got == big);
    port.Close();
}

void TestComPort::portThatDoesNotExist()
{
    QTemporaryDir dir;
    TComPort port;
    TEventLog log(port);
    port.SetPort(dir.filePath(QStringLiteral("no-such-port")));
    try {
        port.Open();
        QFAIL("Open did not raise");
    } catch (const EComPort& e) {
        QCOMPARE(e.ErrorNumber(), 1);
        QCOMPARE(e.SystemError(), 2);
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Unable to open com port (error 2: No such file or directory)"));
    }
    QVERIFY(!port.Connected());
    QCOMPARE(log.opened.load(), 0);
    port.Close(); // nothing to do
    QCOMPARE(log.closed.load(), 0);
}

void TestComPort::secondOpenIsRefused()
{
    TPty pty;
    TComPort first;
    TEventLog log(first);
    ConfigureAsLink(first, pty.slavePath);
    first.Open();

    TComPort second;
    TEventLog secondLog(second);
    ConfigureAsLink(second, pty.slavePath);
    try {
        second.Open();
        QFAIL("a second open of a held port succeeded");
    } catch (const EComPort& e) {
        QCOMPARE(e.ErrorNumber(), 1);
        // EBUSY from TIOCEXCL, or EWOULDBLOCK from the flock (root passes TIOCEXCL).
        QVERIFY2(e.SystemError() == EBUSY || e.SystemError() == EWOULDBLOCK, e.what());
    }
    QVERIFY(!second.Connected());
    QCOMPARE(secondLog.opened.load(), 0);

    // The first holder is undisturbed.
    QCOMPARE(first.WriteBytes("ok"), 2);
    QCOMPARE(pty.Read(2), QByteArray("ok"));
    pty.Write("yes");
    QTRY_COMPARE(log.Received(), QByteArray("yes"));
    first.Close();

    // Released: the other one gets it now.
    second.Open();
    QVERIFY(second.Connected());
    second.Close();
}

void TestComPort::farEndClosing()
{
    TPty pty;
    TComPort port;
    TEventLog log(port);
    ConfigureAsLink(port, pty.slavePath);
    const int threadsBefore = ThreadCount("vyx com events");
    port.Open();
    QTRY_COMPARE(ThreadCount("vyx com events"), threadsBefore + 1);

    pty.CloseMaster();
    QTRY_COMPARE(log.lost.load(), 1);
    QVERIFY2(log.lostErrno.load() == 0 || log.lostErrno.load() == EIO,
             qPrintable(QString::number(log.lostErrno.load())));
    // The event thread has ended, and nothing spins on the endless POLLHUP.
    QTRY_COMPARE(ThreadCount("vyx com events"), threadsBefore);
    const double cpu = CpuMsOver(200ms);
    QVERIFY2(cpu < 40, qPrintable(QStringLiteral("CPU %1 ms in 200 ms after the loss").arg(cpu)));
    QCOMPARE(log.lost.load(), 1);
    QVERIFY(port.Connected()); // until Close

    port.Close();
    QVERIFY(!port.Connected());
    QCOMPARE(log.closed.load(), 1);
}

void TestComPort::lineLostHandlerMayClose()
{
    TComPort port;
    TEventLog log(port);
    std::atomic<bool> closedInHandler{false};
    port.OnLineLost = [&](TComPort* sender, int) {
        sender->Close();
        closedInHandler = !sender->Connected();
    };
    {
        TPty pty;
        ConfigureAsLink(port, pty.slavePath);
        port.Open();
        pty.CloseMaster();
        QTRY_VERIFY(closedInHandler.load());
        QCOMPARE(log.closed.load(), 1);
    }
    // The port opens again; the thread that closed itself is joined on the way.
    TPty next;
    port.SetPort(next.slavePath);
    port.Open();
    QCOMPARE(port.WriteBytes("x"), 1);
    QCOMPARE(next.Read(1), QByteArray("x"));
    port.Close();
    QCOMPARE(log.closed.load(), 2);
}

void TestComPort::closeWhileHandlerReads()
{
    // Close joins the event thread while its handler is still busy and then
    // reads and writes: no lock that those need may be held meanwhile.
    TPty pty;
    TComPort port;
    ConfigureAsLink(port, pty.slavePath);
    std::atomic<bool> inHandler{false}, handlerDone{false};
    port.OnRxChar = [&](TComPort* sender, int count) {
        if (inHandler.exchange(true))
            return;
        std::this_thread::sleep_for(100ms);
        TByteString data;
        sender->ReadBytes(data, count);
        sender->WriteBytes(data);
        sender->SetParity(TParityBits::prOdd);
        handlerDone = true;
    };
    port.Open();
    pty.Write("abc");
    QTRY_VERIFY(inHandler.load());
    port.Close();
    QVERIFY(handlerDone.load());
    QVERIFY(!port.Connected());
}

void TestComPort::syncMethodWhileOpen()
{
    TPty pty;
    TComPort port;
    port.SetPort(pty.slavePath);
    port.Open();
    QCOMPARE(port.SyncMethod(), TSyncMethod::smThreadSync);
    port.SetSyncMethod(TSyncMethod::smThreadSync); // the same value: nothing
    try {
        port.SetSyncMethod(TSyncMethod::smNone);
        QFAIL("SyncMethod changed while open");
    } catch (const EComPort& e) {
        QCOMPARE(e.ErrorNumber(), 14);
        QCOMPARE(e.SystemError(), -1);
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Cannot set property while connected"));
    }
    QCOMPARE(port.SyncMethod(), TSyncMethod::smThreadSync);
    port.Close();
    port.SetSyncMethod(TSyncMethod::smNone);
    QCOMPARE(port.SyncMethod(), TSyncMethod::smNone);
}

void TestComPort::settersCompareFirst()
{
    TPty pty;
    TRecorder recorder;
    TComPort port;
    ConfigureAsLink(port, pty.slavePath);
    port.SetParity(TParityBits::prEven);
    port.Open();
    recorder.Clear();

    port.SetParity(TParityBits::prEven);
    port.SetBaudRate(TBaudRate::br19200);
    port.SetDataBits(TDataBits::dbEight);
    port.SetStopBits(TStopBits::sbOneStopBit);
    port.SetControlDTR(TDTRFlowControl::dtrEnable);
    port.SetSyncMethod(TSyncMethod::smNone);
    port.SetPort(pty.slavePath);
    QVERIFY(recorder.Calls().empty());

    // A change reaches the open port before the setter returns; the modem
    // lines are left alone when only the parity changed.
    port.SetParity(TParityBits::prOdd);
    std::vector<TRecorder::TCall> calls = recorder.Calls();
    QVERIFY(!calls.empty());
    bool modemIoctl = false;
    for (const auto& c : calls)
        modemIoctl |= c.name == "ioctl" && (c.request == TIOCMBIS || c.request == TIOCMBIC);
    QVERIFY(!modemIoctl);
    std::vector<TRecorder::TCall> line = recorder.LineCalls();
    QCOMPARE(line.size(), size_t(2));
    QCOMPARE(line[1].cflag & kParityBits, tcflag_t(PARENB | PARODD));

    // A DTR change does set the line.
    recorder.Clear();
    port.SetControlDTR(TDTRFlowControl::dtrDisable);
    calls = recorder.Calls();
    QVERIFY(std::any_of(calls.begin(), calls.end(),
                        [](const auto& c) { return c.name == "ioctl" && c.request == TIOCMBIC; }));
    port.Close();

    // Closed: stored, no system call.
    recorder.Clear();
    port.SetParity(TParityBits::prMark);
    port.SetBaudRate(TBaudRate::br57600);
    QVERIFY(recorder.Calls().empty());
    QCOMPARE(port.Parity(), TParityBits::prMark);
    QCOMPARE(port.BaudRate(), TBaudRate::br57600);
}

void TestComPort::parityDrainsBeforeSwitching()
{
    // The 9-bit send: the address byte with MARK, the rest with SPACE. Each
    // switch drains the bytes before it, then applies, and only then is the
    // next byte written. A pty drops parity; the seam shows it.
    TPty pty;
    TRecorder recorder;
    TComPort port;
    ConfigureAsLink(port, pty.slavePath);
    port.Open();
    recorder.Clear();

    port.SetParity(TParityBits::prMark);
    QCOMPARE(port.WriteBytes(QByteArray::fromHex("05")), 1);
    port.SetParity(TParityBits::prSpace);
    QCOMPARE(port.WriteBytes(QByteArray::fromHex("025101020000")), 6);

    const std::vector<TRecorder::TCall> line = recorder.LineCalls();
    QCOMPARE(line.size(), size_t(6));
    QCOMPARE(line[0].name, std::string("tcdrain"));
    QCOMPARE(line[1].name, std::string("tcsetattr"));
    QCOMPARE(line[1].action, TCSANOW);
    QCOMPARE(line[1].cflag & kParityBits, tcflag_t(PARENB | CMSPAR | PARODD));
    QCOMPARE(line[2].name, std::string("write"));
    QCOMPARE(line[2].size, size_t(1));
    QCOMPARE(line[3].name, std::string("tcdrain"));
    QCOMPARE(line[4].name, std::string("tcsetattr"));
    QCOMPARE(line[4].action, TCSANOW);
    QCOMPARE(line[4].cflag & kParityBits, tcflag_t(PARENB | CMSPAR));
    QCOMPARE(line[5].name, std::string("write"));
    QCOMPARE(line[5].size, size_t(6));
    QCOMPARE(pty.Read(7), QByteArray::fromHex("05025101020000"));

    // Back to even for the 8-bit form: CMSPAR goes again.
    recorder.Clear();
    port.SetParity(TParityBits::prEven);
    QCOMPARE(recorder.LineCalls().back().cflag & kParityBits, tcflag_t(PARENB));
    port.Close();
}

void TestComPort::everyParitySwitchOnAPty()
{
    // A pty clears PARENB; a switch that differs only in that bit (none to
    // even, as the 8-bit form does before its first send) must still pass.
    TPty pty;
    TComPort port;
    ConfigureAsLink(port, pty.slavePath);
    port.Open();
    const TParityBits order[] = {TParityBits::prEven, TParityBits::prNone, TParityBits::prEven,
                                 TParityBits::prMark, TParityBits::prSpace, TParityBits::prMark,
                                 TParityBits::prOdd, TParityBits::prEven, TParityBits::prSpace,
                                 TParityBits::prNone};
    QByteArray expected;
    for (TParityBits p : order) {
        port.SetParity(p);
        QCOMPARE(port.Parity(), p);
        QCOMPARE(port.WriteBytes("p"), 1);
        expected += 'p';
    }
    QCOMPARE(pty.Read(expected.size()), expected);
    port.Close();
}

// An adapter that stops taking bytes: the drain before a parity switch and a
// write waiting for room both end in error 2 (ETIMEDOUT) after the write
// time-out, with the output flushed, instead of waiting for ever.
void TestComPort::lineThatStopsTakingBytes()
{
    TPty pty;
    TComPort port;
    ConfigureAsLink(port, pty.slavePath);
    // a second descriptor of the line, opened before the port holds it exclusively
    const int filler = ::open(pty.slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(filler >= 0);
    port.Open();
    const auto expectTimeout = [](const std::function<void()>& call) {
        const auto start = std::chrono::steady_clock::now();
        try {
            call();
            QFAIL("no error");
        } catch (const EComPort& e) {
            QCOMPARE(e.ErrorNumber(), 2);
            QCOMPARE(e.SystemError(), ETIMEDOUT);
        }
        const auto took = std::chrono::steady_clock::now() - start;
        QVERIFY2(took >= 1000ms && took < 3000ms, qPrintable(QString::number(took.count() / 1e6)));
    };

    {
        TRecorder recorder;
        // a drain waits until a signal ends it, as the kernel's does
        recorder.FailWith([](const TRecorder::TCall& c) { return c.name == "tcdrain" && ::poll(nullptr, 0, -1) < 0 ? EINTR : 0; });
        expectTimeout([&] { port.SetParity(TParityBits::prMark); });
        const std::vector<TRecorder::TCall> calls = recorder.Calls();
        QCOMPARE(calls.back().name, std::string("tcflush"));
        QCOMPARE(port.Parity(), TParityBits::prNone); // never reached the line
    }
    {
        // so the next address byte is not sent without its switch
        TRecorder recorder;
        port.SetParity(TParityBits::prMark);
        const std::vector<TRecorder::TCall> line = recorder.LineCalls();
        QCOMPARE(line.size(), size_t(2));
        QCOMPARE(line[1].cflag & kParityBits, tcflag_t(PARENB | CMSPAR | PARODD));
    }

    // the far end reads nothing: fill the line until it takes no more (the pty
    // moves what it took on behind the scenes, so until it stays full a while)
    const QByteArray block(4096, 'f');
    pollfd room{filler, POLLOUT, 0};
    do {
        while (::write(filler, block.constData(), size_t(block.size())) > 0) {
        }
        QCOMPARE(errno, EAGAIN);
    } while (::poll(&room, 1, 200) > 0);
    expectTimeout([&] { port.WriteBytes("x"); });
    // flushed: the line takes bytes again at once
    QCOMPARE(port.WriteBytes("y"), 1);
    ::close(filler);
    port.Close();
}

void TestComPort::markSpaceIsReadBack()
{
    // A driver that drops CMSPAR would send odd or even parity instead.
    class TNoMarkSpace : public TRecorder {
    public:
        int Tcgetattr(int fd, termios* t) override
        {
            const int result = TRecorder::Tcgetattr(fd, t);
            t->c_cflag &= ~tcflag_t(CMSPAR);
            return result;
        }
    };
    TPty pty;
    TComPort port;
    ConfigureAsLink(port, pty.slavePath);
    port.Open();
    TNoMarkSpace driver;
    port.SetParity(TParityBits::prEven);
    for (TParityBits parity : {TParityBits::prMark, TParityBits::prSpace}) {
        try {
            port.SetParity(parity);
            QFAIL("MARK/SPACE taken although the driver dropped it");
        } catch (const EComPort& e) {
            QCOMPARE(e.ErrorNumber(), 7);
            QCOMPARE(e.SystemError(), EOPNOTSUPP);
            const QString message = QString::fromLocal8Bit(e.what());
            QVERIFY2(message.startsWith("SetCommState function failed: " + pty.slavePath) && message.contains("9-bit"),
                     qPrintable(message));
        }
        QCOMPARE(port.Parity(), TParityBits::prEven); // the refused parity is not the line's
        port.SetParity(TParityBits::prEven);
    }
    port.Close();
}

void TestComPort::setPortReopens()
{
    TPty a, b;
    TComPort port;
    TEventLog log(port);
    ConfigureAsLink(port, a.slavePath);
    port.Open();
    port.SetPort(b.slavePath);
    QVERIFY(port.Connected());
    QCOMPARE(port.Port(), b.slavePath);
    QCOMPARE(log.Order(), (std::vector<std::string>{"open", "close", "open"}));
    QCOMPARE(port.WriteBytes("to b"), 4);
    QCOMPARE(b.Read(4), QByteArray("to b"));
    b.Write("from b");
    QTRY_COMPARE(log.Received(), QByteArray("from b"));
    port.Close();

    // Closed: only stored. The comparison is exact.
    port.SetPort(QStringLiteral("COM3"));
    port.SetPort(QStringLiteral("com3"));
    QCOMPARE(port.Port(), QStringLiteral("com3"));
    QCOMPARE(log.opened.load(), 2);
}

void TestComPort::failingSystemCalls()
{
    TPty pty;
    TRecorder recorder;
    TComPort port;
    TEventLog log(port);
    ConfigureAsLink(port, pty.slavePath);

    // The modem status read at the end of Open fails for real: 11, after
    // OnAfterOpen, the port stays open (the order of Open).
    recorder.FailWith([](const TRecorder::TCall& c) { return c.name == "ioctl" && c.request == TIOCMGET ? EIO : 0; });
    try {
        port.Open();
        QFAIL("no error 11");
    } catch (const EComPort& e) {
        QCOMPARE(e.ErrorNumber(), 11);
        QCOMPARE(e.SystemError(), EIO);
    }
    QVERIFY(port.Connected());
    QCOMPARE(log.opened.load(), 1);

    // A parity switch the driver refuses: 7 with its errno.
    recorder.FailWith([](const TRecorder::TCall& c) { return c.name == "tcsetattr" ? EIO : 0; });
    try {
        port.SetParity(TParityBits::prMark);
        QFAIL("no error 7");
    } catch (const EComPort& e) {
        QCOMPARE(e.ErrorNumber(), 7);
        QCOMPARE(e.SystemError(), EIO);
    }

    // A write that fails: 2.
    recorder.FailWith([](const TRecorder::TCall& c) { return c.name == "write" ? EIO : 0; });
    try {
        port.WriteBytes("x");
        QFAIL("no error 2");
    } catch (const EComPort& e) {
        QCOMPARE(e.ErrorNumber(), 2);
        QCOMPARE(e.SystemError(), EIO);
    }

    // A read that fails: 3, and Data is empty.
    recorder.FailWith([](const TRecorder::TCall& c) { return c.name == "read" ? EIO : 0; });
    TByteString data = "old";
    try {
        port.ReadBytes(data, 4);
        QFAIL("no error 3");
    } catch (const EComPort& e) {
        QCOMPARE(e.ErrorNumber(), 3);
        QCOMPARE(e.SystemError(), EIO);
    }
    QVERIFY(data.isEmpty());
    recorder.FailWith({});
    port.Close();

    // A modem-line ioctl refused for a real reason fails the open (7) and
    // leaves the port closed; ENOTTY/EINVAL (a pty) would not.
    recorder.FailWith([](const TRecorder::TCall& c) { return c.name == "ioctl" && c.request == TIOCMBIS ? EPERM : 0; });
    try {
        port.Open();
        QFAIL("no error 7");
    } catch (const EComPort& e) {
        QCOMPARE(e.ErrorNumber(), 7);
        QCOMPARE(e.SystemError(), EPERM);
    }
    QVERIFY(!port.Connected());
    recorder.FailWith([](const TRecorder::TCall& c) { return c.name == "ioctl" && c.request == TIOCMBIS ? ENOTTY : 0; });
    port.Open();
    QVERIFY(port.Connected());

    // Closed port: the system answers EBADF.
    recorder.FailWith({});
    port.Close();
    try {
        port.WriteBytes("x");
        QFAIL("write on a closed port");
    } catch (const EComPort& e) {
        QCOMPARE(e.ErrorNumber(), 2);
        QCOMPARE(e.SystemError(), EBADF);
    }
    try {
        port.PendingInputCount();
        QFAIL("count on a closed port");
    } catch (const EComPort& e) {
        QCOMPARE(e.ErrorNumber(), 10);
    }
}

void TestComPort::threadsTogether()
{
    // As the link uses the port: the worker switches parity and writes, the
    // event thread reads (the far end echoes), the main thread closes in the
    // middle of it all. Meant for TSan as much as for the result.
    TPty pty;
    TComPort port;
    TEventLog log(port);
    ConfigureAsLink(port, pty.slavePath);
    port.Open();

    std::atomic<bool> stop{false};
    std::thread farEnd([&] {
        char buf[512];
        while (!stop.load()) {
            pollfd p{pty.master, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0 || !(p.revents & POLLIN))
                continue;
            const ssize_t n = ::read(pty.master, buf, sizeof buf);
            if (n > 0)
                (void)!::write(pty.master, buf, size_t(n));
        }
    });
    std::atomic<int> sent{0}, failures{0};
    std::thread worker([&] {
        int i = 0;
        while (!stop.load()) {
            try {
                port.SetParity(i % 2 ? TParityBits::prMark : TParityBits::prSpace);
                sent += port.WriteBytes(QByteArray(1 + i % 7, char(i)));
            } catch (const EComPort&) {
                ++failures; // after the close: EBADF
            }
            ++i;
            std::this_thread::sleep_for(1ms);
        }
    });
    QTRY_VERIFY(log.receivedSize.load() > 100);
    port.Close();
    QVERIFY(!port.Connected());
    std::this_thread::sleep_for(20ms);
    stop = true;
    worker.join();
    farEnd.join();
    QVERIFY(sent.load() > 100);
    QCOMPARE(log.zeroCounts.load(), 0);
}

QTEST_GUILESS_MAIN(TestComPort)
#include "test_comport.moc"
