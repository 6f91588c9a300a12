// Pacing, queue and assignment rules of the link, driven cycle by cycle with a
// clock of the test's own over a real pseudo-terminal (8-bit framed form).
#include "LinkEventLog.h"
#include "module/ModuleRequestsU.h"

#include "base/AppErrors.h"
#include "link/CommThreadU.h"
#include "ports/ComPort.h"
#include "ports/ComPortPosix.h"

#include <QElapsedTimer>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

namespace {

// The far end of the serial line: the master side of a pty.
class TPtyPeer {
public:
    TPtyPeer()
    {
        FMaster = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(FMaster);
        unlockpt(FMaster);
        FSlavePath = QString::fromLocal8Bit(ptsname(FMaster));
        fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    }
    ~TPtyPeer() { Unplug(); }
    int MasterFd() const { return FMaster; }
    // The far end goes away, as an adapter pulled out.
    void Unplug()
    {
        if (FMaster >= 0)
            ::close(FMaster);
        FMaster = -1;
    }
    QString SlavePath() const { return FSlavePath; }

    // Every request written since the last call, decoded.
    QList<TCanonicalFrame> Requests()
    {
        QList<TCanonicalFrame> out;
        char buf[512];
        for (;;) {
            const ssize_t n = ::read(FMaster, buf, sizeof buf);
            if (n <= 0)
                break;
            TByteString chunk(buf, n);
            // one frame per chunk is not guaranteed: feed byte by byte
            for (char c : chunk)
                if (auto r = FRx.Feed(TByteString(1, c)))
                    if (auto* g = std::get_if<TGoodReply>(&*r))
                        out.append(g->frame);
        }
        return out;
    }

    void Answer(const TByteString& replyBody) { Write(EncodeFramed8(BuildFrame(replyBody))); }
    void Write(const TByteString& bytes) { QCOMPARE(::write(FMaster, bytes.constData(), bytes.size()), bytes.size()); }

private:
    int FMaster = -1;
    QString FSlavePath;
    TFramed8Receiver FRx;
};

// The port's system calls, forwarded to the system; the fakes below change a
// few. TInstalled puts one in place for the time it lives.
class TLineCalls : public ComPortPosix::ISystemCalls {
public:
    TLineCalls() = default;
    TLineCalls(const TLineCalls&) = delete;
    TLineCalls& operator=(const TLineCalls&) = delete;

    int Open(const char* path, int flags) override { return real.Open(path, flags); }
    int Close(int fd) override { return real.Close(fd); }
    int Flock(int fd, int op) override { return real.Flock(fd, op); }
    int Ioctl(int fd, unsigned long request, void* arg) override { return real.Ioctl(fd, request, arg); }
    int Tcgetattr(int fd, termios* t) override { return real.Tcgetattr(fd, t); }
    int Tcsetattr(int fd, int action, const termios* t) override { return real.Tcsetattr(fd, action, t); }
    int Tcdrain(int fd) override { return real.Tcdrain(fd); }
    int Tcflush(int fd, int queue) override { return real.Tcflush(fd, queue); }
    ssize_t Write(int fd, const void* data, std::size_t size) override { return real.Write(fd, data, size); }
    ssize_t Read(int fd, void* data, std::size_t size) override { return real.Read(fd, data, size); }

protected:
    ComPortPosix::ISystemCalls& real = ComPortPosix::RealSystemCalls();
};

// A fake installed only once it is whole, and taken out before it is torn
// down: the port's event thread may call it at any moment.
template <class TCalls>
class TInstalled final : public TCalls {
public:
    TInstalled() { ComPortPosix::SetSystemCalls(this); }
    ~TInstalled() override { ComPortPosix::SetSystemCalls(nullptr); }
};

// Records what reaches the line: drains, parity switches and writes (with the
// link's clock), in order. Can fail the writes, or play a driver that cannot
// do MARK/SPACE (it drops CMSPAR).
class TLineRecorder : public TLineCalls {
public:
    QStringList log;
    std::function<nanoseconds()> clock;
    bool failWrites = false;
    bool dropMarkSpace = false;
    std::function<void()> beforeDrain;

    int Tcgetattr(int fd, termios* t) override
    {
        const int result = real.Tcgetattr(fd, t);
        if (dropMarkSpace)
            t->c_cflag &= ~tcflag_t(CMSPAR);
        return result;
    }
    int Tcsetattr(int fd, int action, const termios* t) override
    {
        log << QString("parity %1").arg(ParityName(t->c_cflag));
        return real.Tcsetattr(fd, action, t);
    }
    int Tcdrain(int fd) override
    {
        log << "drain";
        if (beforeDrain)
            beforeDrain();
        return real.Tcdrain(fd);
    }
    ssize_t Write(int fd, const void* data, std::size_t size) override
    {
        log << QString("write %1 at %2 ms")
                   .arg(QByteArray(static_cast<const char*>(data), qsizetype(size)).toHex(' '))
                   .arg(clock ? double(clock().count()) / 1e6 : 0.0);
        if (failWrites) {
            errno = EIO;
            return -1;
        }
        return real.Write(fd, data, size);
    }

    static QString ParityName(tcflag_t c)
    {
        if (!(c & PARENB))
            return "none";
        if (c & CMSPAR)
            return (c & PARODD) ? "mark" : "space";
        return (c & PARODD) ? "odd" : "even";
    }
};

// A serial adapter that has stopped taking bytes: a drain waits until a signal
// ends the wait, as the kernel's does. Counted, not logged: the worker calls it.
class TStuckDrain : public TLineCalls {
public:
    std::atomic<int> drains{0};
    std::atomic<int> outputFlushes{0};

    int Tcdrain(int) override
    {
        ++drains;
        ::poll(nullptr, 0, -1);
        errno = EINTR;
        return -1;
    }
    int Tcflush(int fd, int queue) override
    {
        if (queue == TCOFLUSH)
            ++outputFlushes;
        return real.Tcflush(fd, queue);
    }
};

class TTestLink : public TCommThread {
public:
    using TCommThread::TCommThread;
    using TCommThread::HoldQueueLock;
    using TCommThread::ReleaseQueueLock;
};

const TByteString StatusReplyBody = QByteArray::fromHex("010bb5000011223344556677000c");

} // namespace

class TestCommThread : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void firstRequestOnFirstCycle();
    void pollsEveryQuarterSecondWhileAnswered();
    void lateReplyKeepsThePollInterval();
    void silenceTimesOutAfterThreeQuarters();
    void queuedRequestReplacesPoll();
    void queuedRequestTimeoutIsCommandTimeout();
    void requestToAddressZeroIsNotQueuedCommand();
    void batchGoesOutInOrder();
    void heldQueueLockGivesPoll();
    void closeEmptiesQueue();
    void eventsOfAClosedSessionAreDropped();
    void assignmentSequence();
    void assignTwiceReplacesPendingAddress();
    void badReplyRaisesChecksumError();
    void replyToAnotherRequestIsDropped_data();
    void replyToAnotherRequestIsDropped();
    void addCommandRejectsShortBody();
    void bareZeroBodyIsQueuedUnframed();
    void nineBitSendMarksTheAddressByte();
    void failedWriteTimesOut();
    void adapterWithoutMarkSpaceEndsTheSession();
    void unpluggedDuringADrainIsALostLine();
    void stuckAdapterEndsInWriteErrorAndCloseReturns();
    void transportSettings();
    void settingsRefusedWhileActive();
    void traceFollowsTheLine();
    void statusRepliesNotTakenYetGiveWayToTheNewest();
    void goesWhileBytesArrive();

private:
    // A link with the test's clock, opened on the pty.
    void OpenLink(const TCommThread::TTrace& trace = {});
    // Advances the test clock by dt and runs one cycle.
    void Step(nanoseconds dt);
    int FMasterFd() const { return FPeer->MasterFd(); }
    // Runs cycles every 2 ms for the given span.
    void Run(nanoseconds span);
    std::unique_ptr<TPtyPeer> FPeer;
    std::unique_ptr<TTestLink> FLink;
    TLinkEventLog FLog;
    nanoseconds FNow{0};
};

void TestCommThread::init()
{
    FNow = 100s; // well past the clock's zero, like a real monotonic clock
    FPeer = std::make_unique<TPtyPeer>();
    OpenLink();
}

void TestCommThread::OpenLink(const TCommThread::TTrace& trace)
{
    FLink.reset();
    TCommThread::TOptions options;
    options.clock = [this] { return FNow; };
    options.sleep = [this](nanoseconds span) { FNow += span; };
    options.manualCycles = true;
    options.trace = trace;
    FLink = std::make_unique<TTestLink>(options);
    FLog = {};
    FLog.Attach(*FLink);
    FLink->SetLANMode(false);
    FLink->DataBits = 8;
    FLink->ComPort().SetPort(FPeer->SlavePath());
    FLink->Open();
    QVERIFY(FLink->IsActive());
    QCOMPARE(FLog.events, QStringList{"open"});
    FLog.events.clear();
}

void TestCommThread::cleanup()
{
    FLink.reset();
    FPeer.reset();
}

void TestCommThread::Step(nanoseconds dt)
{
    FNow += dt;
    FLink->RunCycle();
}

void TestCommThread::Run(nanoseconds span)
{
    for (nanoseconds t{0}; t < span; t += 2ms)
        Step(2ms);
}

void TestCommThread::firstRequestOnFirstCycle()
{
    Step(0ms);
    const auto sent = FPeer->Requests();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0], BuildFrame(ModuleRequests::Poll(1)));
}

void TestCommThread::pollsEveryQuarterSecondWhileAnswered()
{
    QList<nanoseconds> sendTimes;
    for (int i = 0; i < 1000; ++i) { // 2 s
        Step(2ms);
        for (const auto& r : FPeer->Requests()) {
            Q_UNUSED(r);
            sendTimes << FNow;
            FPeer->Answer(StatusReplyBody);
            // the clock stands still until the link has taken the reply
            QTRY_COMPARE(FLog.replies.size(), sendTimes.size());
        }
    }
    QVERIFY(sendTimes.size() >= 7);
    for (int i = 1; i < sendTimes.size(); ++i) {
        const auto gap = sendTimes[i] - sendTimes[i - 1];
        QVERIFY2(gap > 250ms && gap <= 272ms, qPrintable(QString::number(gap.count() / 1e6)));
    }
    QVERIFY(!FLog.events.contains("timeout"));
}

void TestCommThread::lateReplyKeepsThePollInterval()
{
    Step(0ms);
    QCOMPARE(FPeer->Requests().size(), 1);
    const nanoseconds sentAt = FNow;
    Run(100ms);
    FPeer->Answer(StatusReplyBody);
    QTRY_COMPARE(FLog.events, QStringList{"reply"});
    nanoseconds nextAt{0};
    while (nextAt == 0ns && FNow - sentAt < 1s) {
        Step(2ms);
        if (!FPeer->Requests().isEmpty())
            nextAt = FNow;
    }
    QVERIFY(nextAt - sentAt > 250ms);
    QVERIFY(nextAt - sentAt <= 252ms);
}

void TestCommThread::silenceTimesOutAfterThreeQuarters()
{
    Step(0ms);
    const nanoseconds sentAt = FNow;
    QCOMPARE(FPeer->Requests().size(), 1);
    while (FLog.events.isEmpty() && FNow - sentAt < 2s)
        Step(2ms);
    QCOMPARE(FLog.events, QStringList{"timeout"});
    QVERIFY(FNow - sentAt > 750ms && FNow - sentAt <= 752ms);
    QVERIFY(FPeer->Requests().isEmpty());
    Step(2ms); // the next request follows on the next cycle
    QCOMPARE(FPeer->Requests().size(), 1);
}

void TestCommThread::queuedRequestReplacesPoll()
{
    const TByteString firmware = QByteArray::fromHex("0100ff");
    FLink->AddCommand(firmware);
    Step(0ms);
    const auto sent = FPeer->Requests();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0], BuildFrame(firmware));
    FPeer->Answer(QByteArray::fromHex("0102ff0205"));
    QTRY_COMPARE(FLog.events, (QStringList{"reply", "done"}));
    QCOMPARE(FLog.replies[0], BuildFrame(QByteArray::fromHex("0102ff0205")));
    Run(252ms);
    QCOMPARE(FPeer->Requests(), QList<TCanonicalFrame>{BuildFrame(ModuleRequests::Poll(1))});
}

void TestCommThread::queuedRequestTimeoutIsCommandTimeout()
{
    FLink->AddCommand(QByteArray::fromHex("01025200 07"));
    Step(0ms);
    Run(752ms);
    QCOMPARE(FLog.events, QStringList{"commandtimeout"});
}

void TestCommThread::requestToAddressZeroIsNotQueuedCommand()
{
    FLink->AddCommand(QByteArray::fromHex("0005020504030201"));
    Step(0ms);
    QCOMPARE(FPeer->Requests()[0][0], char(0));
    FPeer->Answer(QByteArray::fromHex("000066"));
    QTRY_COMPARE(FLog.events, QStringList{"reply"});
    QTest::qWait(20);
    QCOMPARE(FLog.events, QStringList{"reply"});

    FLog.events.clear();
    FLink->AddCommand(QByteArray::fromHex("0005020504030201"));
    Run(252ms);
    QCOMPARE(FPeer->Requests().size(), 1);
    Run(752ms);
    QCOMPARE(FLog.events, QStringList{"timeout"});
}

void TestCommThread::batchGoesOutInOrder()
{
    QList<TCanonicalFrame> expected;
    for (int reg = 0; reg < 6; ++reg) {
        const TByteString body = BytesOf({1, 2, 0x52, std::uint8_t(reg), std::uint8_t(10 + reg)});
        FLink->AddCommand(body);
        expected << BuildFrame(body);
    }
    QList<TCanonicalFrame> sent;
    for (int i = 0; i < 6 * 130 && sent.size() < 6; ++i) {
        Step(2ms);
        for (const auto& r : FPeer->Requests()) {
            sent << r;
            FPeer->Answer(QByteArray::fromHex("0100b6"));
            QTRY_VERIFY(FLog.events.count("done") == sent.size());
        }
    }
    QCOMPARE(sent, expected);
}

void TestCommThread::heldQueueLockGivesPoll()
{
    FLink->AddCommand(QByteArray::fromHex("0100ff"));
    FLink->HoldQueueLock();
    Step(0ms);
    FLink->ReleaseQueueLock();
    QCOMPARE(FPeer->Requests(), QList<TCanonicalFrame>{BuildFrame(ModuleRequests::Poll(1))});
    FPeer->Answer(StatusReplyBody);
    QTRY_COMPARE(FLog.events, QStringList{"reply"});
    Run(252ms);
    QCOMPARE(FPeer->Requests(), QList<TCanonicalFrame>{BuildFrame(QByteArray::fromHex("0100ff"))});
}

void TestCommThread::closeEmptiesQueue()
{
    FLink->AddCommand(QByteArray::fromHex("0100ff"));
    FLink->Close();
    QCOMPARE(FLog.events, QStringList{"close"});
    QVERIFY(!FLink->IsActive());
    FLink->Open();
    QCOMPARE(FLog.events, (QStringList{"close", "open"}));
    Run(300ms);
    const auto sent = FPeer->Requests();
    QVERIFY(!sent.isEmpty());
    QCOMPARE(sent[0], BuildFrame(ModuleRequests::Poll(1)));
}

// Events raised off the main thread wait there in its queue; a Close before
// they are delivered ends their session.
void TestCommThread::eventsOfAClosedSessionAreDropped()
{
    Step(0ms);
    FNow += 800ms;
    std::thread([this] {
        FLink->RunCycle(); // the time-out, as the worker raises it
        FLink->ComPort().OnLineLost(&FLink->ComPort(), EIO); // as the port's event thread raises it
    }).join();
    FLink->Close();
    FLink->Open(); // a new session begins before the old events are delivered
    QCoreApplication::processEvents();
    QCOMPARE(FLog.events, (QStringList{"close", "open"}));
    QVERIFY(FLink->IsActive());
}

void TestCommThread::assignmentSequence()
{
    FLink->AssignHWAddress(5);
    Step(0ms);
    QCOMPARE(FPeer->Requests(), QList<TCanonicalFrame>{QByteArray::fromHex("00010005faff")});
    Run(752ms); // silence: the follow-up replaces the time-out
    QCOMPARE(FPeer->Requests(), QList<TCanonicalFrame>{QByteArray::fromHex("00010101fdff")});
    QVERIFY(FLog.events.isEmpty());
    Run(752ms);
    QCOMPARE(FLog.events, QStringList{"timeout"});
    Step(2ms);
    QCOMPARE(FPeer->Requests(), QList<TCanonicalFrame>{BuildFrame(ModuleRequests::Poll(1))});
}

void TestCommThread::assignTwiceReplacesPendingAddress()
{
    FLink->AssignHWAddress(5);
    FLink->AssignHWAddress(7);
    Step(0ms);
    QCOMPARE(FPeer->Requests(), QList<TCanonicalFrame>{BuildFrame(ModuleRequests::AddressAssignment(7))});
}

void TestCommThread::badReplyRaisesChecksumError()
{
    TByteString line = EncodeFramed8(BuildFrame(StatusReplyBody));
    line[line.size() - 1] = char(line[line.size() - 1] ^ 0x40);
    Step(0ms);
    FPeer->Requests();
    FPeer->Write(line);
    QTRY_COMPARE(FLog.events, QStringList{"checksum"});
    // the line is free again at once: the next slot comes after the interval;
    // a queued request answered so has failed
    FLink->AddCommand(QByteArray::fromHex("0100ff"));
    Run(252ms);
    QCOMPARE(FPeer->Requests(), QList<TCanonicalFrame>{BuildFrame(QByteArray::fromHex("0100ff"))});
    FPeer->Write(line);
    QTRY_COMPARE(FLog.events, (QStringList{"checksum", "checksum", "commandtimeout"}));
    QCOMPARE(FLink->LastError(), QStringLiteral("Reply with a bad check word BD4C (expected FD4C)"));
}

void TestCommThread::replyToAnotherRequestIsDropped_data()
{
    QTest::addColumn<QByteArray>("request"); // queued body; empty: the poll
    QTest::addColumn<QByteArray>("early");   // reply arriving first
    QTest::addColumn<QByteArray>("own");     // the request's own reply, right behind it
    QTest::addColumn<bool>("dropped");
    const QByteArray firmware = QByteArray::fromHex("0102ff0205");
    QTest::newRow("status reply to a firmware request") << QByteArray::fromHex("0100ff") << StatusReplyBody << firmware << true;
    QTest::newRow("firmware reply to a poll") << QByteArray() << firmware << StatusReplyBody << true;
    QTest::newRow("register reply for another register")
        << QByteArray::fromHex("01015307") << QByteArray::fromHex("0102b70600") << QByteArray::fromHex("0102b70712") << true;
    QTest::newRow("register reply to a poll") << QByteArray() << QByteArray::fromHex("0102b70600") << StatusReplyBody << true;
    QTest::newRow("register reply for its register")
        << QByteArray::fromHex("01015306") << QByteArray::fromHex("0102b70600") << QByteArray::fromHex("0102b70600") << false;
    QTest::newRow("reply not examined") << QByteArray() << QByteArray::fromHex("0101b602") << StatusReplyBody << false;
}

// A module that answers after the time-out: its reply must not count as the
// answer to the request that went out next.
void TestCommThread::replyToAnotherRequestIsDropped()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, early);
    QFETCH(QByteArray, own);
    QFETCH(bool, dropped);
    if (!request.isEmpty())
        FLink->AddCommand(request);
    Step(0ms);
    QCOMPARE(FPeer->Requests().size(), 1);
    // in one chunk: what follows a judged reply is discarded, a dropped one is not judged
    FPeer->Write(EncodeFramed8(BuildFrame(early)) + EncodeFramed8(BuildFrame(own)));
    QTRY_VERIFY(!FLog.replies.isEmpty());
    QCOMPARE(FLog.replies, QList<TCanonicalFrame>{BuildFrame(dropped ? own : early)});
    QCOMPARE(FLog.events.count("done"), request.isEmpty() ? 0 : 1);
}

void TestCommThread::addCommandRejectsShortBody()
{
    QVERIFY_THROWS_EXCEPTION(EFrameError, FLink->AddCommand(QByteArray::fromHex("010352")));
    // the lock was released and nothing was queued
    FLink->AddCommand(QByteArray::fromHex("0100ff"));
    Step(0ms);
    QCOMPARE(FPeer->Requests(), QList<TCanonicalFrame>{BuildFrame(QByteArray::fromHex("0100ff"))});
}

void TestCommThread::bareZeroBodyIsQueuedUnframed()
{
    FLink->AddCommand(BytesOf({0, 0, 0}));
    Step(0ms);
    // on the line it is framed like any other: AA 00 00 00 00 00 00
    QCOMPARE(FPeer->Requests(), QList<TCanonicalFrame>{QByteArray::fromHex("0000000000")});
    Run(752ms);
    QCOMPARE(FLog.events, QStringList{"timeout"});
}

void TestCommThread::nineBitSendMarksTheAddressByte()
{
    FLink->DataBits = 9;
    std::optional<TInstalled<TLineRecorder>> recorder(std::in_place);
    const nanoseconds start = FNow;
    recorder->clock = [&] { return FNow - start; };
    Step(0ms);
    const QStringList log = recorder->log;
    recorder.reset();
    // each switch waits for the bytes before it to leave with the old parity;
    // the rest follows the address byte 2 ms later on the link's clock
    const QStringList expected = {"drain", "parity mark", "write 01 at 0 ms",
                                  "drain", "parity space", "write 02 51 01 02 a9 ff at 2 ms"};
    QCOMPARE(log, expected);

    // a pty shows no parity: the far end sees the canonical frame
    char buf[64];
    QByteArray seen;
    QTRY_VERIFY((seen += QByteArray(buf, std::max<ssize_t>(0, ::read(FMasterFd(), buf, sizeof buf)))).size() >= 7);
    QCOMPARE(seen.toHex(' '), BuildFrame(ModuleRequests::Poll(1)).toHex(' '));

    // and its 9-bit reply is taken whole
    FPeer->Write(BuildFrame(StatusReplyBody));
    QTRY_COMPARE(FLog.events, QStringList{"reply"});
    QCOMPARE(FLog.replies[0], BuildFrame(StatusReplyBody));
}

void TestCommThread::failedWriteTimesOut()
{
    {
        TInstalled<TLineRecorder> recorder;
        recorder.failWrites = true;
        Step(0ms);
        QCOMPARE(recorder.log.filter("write").size(), 1);
    }
    const nanoseconds sentAt = FNow;
    while (FLog.events.isEmpty() && FNow - sentAt < 2s)
        Step(2ms);
    // the request stayed outstanding and timed out like an unanswered one
    QCOMPARE(FLog.events, QStringList{"timeout"});
    QVERIFY(FNow - sentAt > 750ms && FNow - sentAt <= 752ms);
    QVERIFY(FPeer->Requests().isEmpty());
    Step(2ms);
    QCOMPARE(FPeer->Requests().size(), 1);
}

void TestCommThread::adapterWithoutMarkSpaceEndsTheSession()
{
    QStringList reports;
    AppErrors::SetHandler([&](const QString& message) { reports << message; });
    FLink->DataBits = 9;
    TInstalled<TLineRecorder> recorder;
    recorder.dropMarkSpace = true;
    Step(0ms);
    // nothing goes out with the wrong parity
    QCOMPARE(recorder.log.filter("write").size(), 0);
    AppErrors::SetHandler({});
    QCOMPARE(FLog.events, (QStringList{"close", "error"}));
    QVERIFY(!FLink->IsActive());
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports[0].contains(FPeer->SlavePath()) && reports[0].contains("9-bit"), qPrintable(reports[0]));

    // the 8-bit form needs no MARK: that adapter still opens for it
    FLink->DataBits = 8;
    recorder.log.clear();
    FLink->Open();
    QVERIFY(FLink->IsActive());
    QCOMPARE(recorder.log.first(), QString("parity even"));
    // and a 9-bit open says why it cannot be
    FLink->Close();
    FLink->DataBits = 9;
    FLog.events.clear();
    FLink->Open();
    QCOMPARE(FLog.events, QStringList{"error"});
    QVERIFY2(FLink->LastError().contains("cannot send MARK or SPACE parity"), qPrintable(FLink->LastError()));
}

void TestCommThread::unpluggedDuringADrainIsALostLine()
{
    QStringList reports;
    AppErrors::SetHandler([&](const QString& message) { reports << message; });
    FLink->DataBits = 9;
    {
        // the adapter goes while the worker waits for the bytes before a parity switch
        TInstalled<TLineRecorder> line;
        line.beforeDrain = [this] { FPeer->Unplug(); };
        Step(0ms);
        QTRY_COMPARE(FLog.events, (QStringList{"close", "error"}));
    }
    AppErrors::SetHandler({});
    QCOMPARE(reports, QStringList{}); // no box: nothing was refused
    const QString why = FLink->LastError();
    QVERIFY2(why.startsWith(FPeer->SlavePath() + ": ") && !why.contains("SetCommState"), qPrintable(why));
}

void TestCommThread::stuckAdapterEndsInWriteErrorAndCloseReturns()
{
    TInstalled<TStuckDrain> line;
    TCommThread link; // with its worker and the real clock
    TLinkEventLog log;
    log.Attach(link);
    link.SetLANMode(false);
    link.DataBits = 9;
    FLink.reset(); // the fixture's link holds the pty
    link.ComPort().SetPort(FPeer->SlavePath());
    link.Open();
    QTRY_VERIFY(line.drains.load() >= 1);
    const auto start = std::chrono::steady_clock::now();
    link.Close();
    const auto took = std::chrono::steady_clock::now() - start;
    // the drain gives up after the write time-out of what is queued (1 s here)
    QVERIFY2(took < 2500ms, qPrintable(QString::number(took.count() / 1e6)));
    QCOMPARE(line.outputFlushes.load(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(log.events, (QStringList{"open", "close"}));
}

void TestCommThread::transportSettings()
{
    TCommThread::TOptions options;
    options.manualCycles = true;
    TCommThread link(options);
    QCOMPARE(link.GetComPort(), 2);
    link.SetComPort(9);
    QCOMPARE(link.GetComPort(), 1);
    link.SetComPort(8);
    QCOMPARE(link.GetComPort(), 8);
    link.SetComPort(0);
    QCOMPARE(link.ComPort().Port(), QString("COM1"));
    link.ComPort().SetPort("com5");
    QCOMPARE(link.GetComPort(), 5);
    link.ComPort().SetPort("COM12");
    QCOMPARE(link.GetComPort(), 1);

    QVERIFY(link.LANMode());
    link.DataBits = 9;
    link.SetLANMode(true);
    QCOMPARE(int(link.DataBits), 8);
    link.SetLANMode(false);
    link.DataBits = 9;
    link.SetLANMode(false);
    QCOMPARE(int(link.DataBits), 9);
    link.SetIPPort(10000);
    link.SetIPAddress("127.0.0.1");
    QCOMPARE(link.GetIPPort(), 10000);
    QCOMPARE(link.GetIPAddress(), QString("127.0.0.1"));
}

void TestCommThread::settingsRefusedWhileActive()
{
    const QString message = "Cannot change communication type while then communication is active.";
    try {
        FLink->SetLANMode(true);
        QFAIL("switching to TCP while the port is open must be refused");
    } catch (const std::runtime_error& e) {
        QCOMPARE(QString(e.what()), message);
    }
    QVERIFY(!FLink->LANMode());
    QVERIFY(FLink->IsActive());
    FLink->SetLANMode(false); // the mode in force: nothing happens
    FLink->SetIPAddress(FLink->GetIPAddress());
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, FLink->SetIPAddress("10.0.0.1"));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, FLink->SetIPPort(FLink->GetIPPort() + 1));
}

// The trace follows the line: each request's line form, the reply's bytes as
// read and then the reply, a bad check, a time-out naming its request.
void TestCommThread::traceFollowsTheLine()
{
    using TKind = TCommThread::TTraceEntry::TKind;
    std::mutex lock; // the port's event thread reports what it reads
    QList<TCommThread::TTraceEntry> trace;
    OpenLink([&](const TCommThread::TTraceEntry& e) {
        const std::lock_guard held(lock);
        trace << e;
    });
    auto kinds = [&] {
        const std::lock_guard held(lock);
        QList<TKind> k;
        for (const auto& e : trace)
            if (k.isEmpty() || e.kind != TKind::Received || k.last() != TKind::Received)
                k << e.kind;
        return k;
    };
    const TCanonicalFrame poll = BuildFrame(ModuleRequests::Poll(1));
    const TByteString reply = EncodeFramed8(BuildFrame(StatusReplyBody));
    Step(0ms);
    FPeer->Requests();
    FPeer->Write(reply.left(5));
    QTRY_COMPARE(kinds(), (QList<TKind>{TKind::Sent, TKind::Received}));
    FPeer->Write(reply.mid(5));
    QTRY_COMPARE(FLog.Count("reply"), 1);
    Run(252ms);
    TByteString spoilt = reply;
    spoilt[spoilt.size() - 1] = char(spoilt.back() ^ 0x01);
    FPeer->Write(spoilt);
    QTRY_COMPARE(FLog.Count("checksum"), 1);
    Run(252ms + 752ms);
    QCOMPARE(kinds(), (QList<TKind>{TKind::Sent, TKind::Received, TKind::Reply, TKind::Sent, TKind::Received,
                                    TKind::BadCheck, TKind::Sent, TKind::Timeout}));
    const std::lock_guard held(lock);
    QCOMPARE(trace.first().line, EncodeFramed8(poll));
    QCOMPARE(trace.first().frame, poll);
    TByteString read;
    for (qsizetype i = 1; trace[i].kind == TKind::Received; ++i)
        read += trace[i].line;
    QCOMPARE(read, reply);
    QCOMPARE(trace.last().frame, poll);
}

// The main thread busy elsewhere: a status reply still on its way to it is
// replaced by the next one, so it takes only the newest.
void TestCommThread::statusRepliesNotTakenYetGiveWayToTheNewest()
{
    std::atomic<int> taken{0};
    OpenLink([&](const TCommThread::TTraceEntry& e) {
        if (e.kind == TCommThread::TTraceEntry::TKind::Reply)
            ++taken;
    });
    QList<TByteString> replies;
    for (char last = 1; last <= 3; ++last) {
        replies << StatusReplyBody;
        replies.last()[12] = last;
        Step(251ms);
        QCOMPARE(FPeer->Requests().size(), 1);
        FPeer->Answer(replies.last());
        // without taking events: the port's event thread has taken the reply
        QElapsedTimer waited;
        waited.start();
        while (taken.load() < last && waited.elapsed() < 5000)
            std::this_thread::yield();
        QCOMPARE(taken.load(), int(last));
    }
    // the third may still have been on its way when the second went
    QTRY_VERIFY(!FLog.replies.isEmpty() && FLog.replies.last() == BuildFrame(replies[2]));
    QVERIFY(!FLog.replies.contains(BuildFrame(replies[0])));
    QVERIFY(FLog.replies.size() <= 2);
}

// The link goes while the far end keeps sending: the port's event thread,
// in a read, never finds the port gone before it has ended.
void TestCommThread::goesWhileBytesArrive()
{
    const TByteString noise(64, '\x55');
    for (int i = 0; i < 200; ++i) {
        OpenLink();
        // what a full pty refuses makes no difference here
        for (int j = 0; j < 4; ++j)
            if (::write(FMasterFd(), noise.constData(), noise.size()) < 0)
                break;
        FLink.reset();
    }
}

QTEST_GUILESS_MAIN(TestCommThread)
#include "test_committhread.moc"
