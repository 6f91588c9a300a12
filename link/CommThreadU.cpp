#include "link/CommThreadU.h"

#include "base/AppErrors.h"
#include "base/MainThreadQueue.h"
#include "module/ModuleRepliesU.h"
#include "module/ModuleRequestsU.h"
#include "ports/ClientSocket.h"
#include "ports/ComPort.h"
#include "ports/PortNames.h"

#include <QCoreApplication>
#include <QThread>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <utility>

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

namespace {
constexpr nanoseconds WorkerPeriod = 2ms;
constexpr auto NineBitAddressPause = 2ms;
constexpr int LineSettingsRefused = 7; // EComPort number of a line change the driver refused
// Any fixed address on the local network; the settings replace it at start-up.
const char* const InitialHost = "192.168.1.100";
constexpr int InitialPort = 8111;
const char* const ActiveChangeError =
    "Cannot change communication type while then communication is active.";

constexpr int AssignIdle = -1;
constexpr int AssignFollowUpDue = -2;
QString SystemErrorText(int errnoValue)
{
    return QString::fromLocal8Bit(std::strerror(errnoValue));
}

// A serial failure in words the technician can act on.
TLinkFailure PortFailure(const QString& device, int errnoValue, const QString& otherwise)
{
    using TKind = TLinkFailure::TKind;
    switch (errnoValue) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return {TKind::NotPresent, device, QStringLiteral("%1 is not present").arg(device)};
    case EBUSY: // TIOCEXCL
    case EWOULDBLOCK: // the flock of another program
        return {TKind::InUse, device, QStringLiteral("%1 is in use by another program").arg(device)};
    case EACCES:
    case EPERM:
        return {TKind::NoPermission, device,
                QStringLiteral("no permission for %1: add the user to the dialout group and log in again").arg(device)};
    default:
        return {TKind::Other, device,
                device + QStringLiteral(": ") + (errnoValue > 0 ? SystemErrorText(errnoValue) : otherwise)};
    }
}

// A socket failure as the technician can act on it.
TLinkFailure SocketFailure(const QString& where, int errnoValue)
{
    if (errnoValue == ECONNREFUSED)
        return {TLinkFailure::TKind::Refused, where, QStringLiteral("%1 refused the connection").arg(where)};
    return {TLinkFailure::TKind::Other, where, SystemErrorText(errnoValue) + QStringLiteral(": ") + where};
}

TLinkFailure OtherFailure(const QString& sentence)
{
    return {TLinkFailure::TKind::Other, {}, sentence};
}

QString NoReplyText(std::chrono::milliseconds timeout)
{
    return QStringLiteral("No reply from the module within %1 ms").arg(timeout.count());
}

QString BadCheckWordText(const TBadReply& bad)
{
    const auto word = [](std::uint16_t w) { return QString::number(w, 16).toUpper().rightJustified(4, u'0'); };
    return QStringLiteral("Reply with a bad check word %1 (expected %2)").arg(word(bad.received), word(bad.expected));
}

// Releases the command queue's lock when it goes, also on an error.
struct TQueueLockHeld {
    std::atomic_flag& lock;
    ~TQueueLockHeld() { lock.clear(std::memory_order_release); }
};
} // namespace

struct TCommThread::TImpl {
    TCommThread* q;
    TClock clock;
    TSleep sleep;
    TTrace trace;
    bool manualCycles;
    // set only while the worker is paused
    TLinkTiming timing;

    // Worker: paused at the start of a cycle, never inside one.
    std::thread worker;
    std::mutex pauseMutex;
    std::condition_variable pauseChanged;
    bool paused = true;      // guarded by pauseMutex
    bool inCycle = false;    // guarded by pauseMutex
    bool terminate = false;  // guarded by pauseMutex
    std::uint64_t lineFreed = 0; // guarded by pauseMutex: counts replies taken

    // Worker-only timing.
    nanoseconds lastSend{0};

    // The outstanding request and the receive buffers share one lock.
    std::mutex linkLock;
    TCanonicalFrame outstanding;
    TBatchMark outstandingMark; // where the outstanding request was queued from
    TFramed8Receiver framed8Rx;
    TNineBitReceiver nineBitRx;

    // Counts the link's sessions: an event raised off the main thread carries
    // the session it was raised in and is dropped when that one has ended by
    // the time it is delivered, so nothing of a closed link follows OnClose.
    std::atomic<std::uint64_t> session{0};
    TMainThreadQueue delivery;
    // Posting to the main thread, and the status reply waiting there.
    std::mutex postLock;
    std::uint64_t posts = 0;                     // guarded by postLock
    std::optional<TCanonicalFrame> waitingStatus; // guarded by postLock
    std::uint64_t waitingStatusPost = 0;          // guarded by postLock
    std::uint64_t waitingStatusSession = 0;       // guarded by postLock

    std::atomic<int> assignState{AssignIdle};
    std::atomic<int> fromQueue{0};

    // One queued request; a batch's requests keep the session they were
    // queued in, and go out only while it lasts.
    struct TQueued {
        TCanonicalFrame frame;
        TBatchMark mark;
        std::uint64_t session = 0;
    };
    // The worker only tries the queue lock; the main thread waits for it.
    std::atomic_flag queueLock = ATOMIC_FLAG_INIT;
    std::deque<TQueued> queue;
    std::uint64_t lastBatch = 0; // main thread

    // Main thread only: the reason behind the last failure event.
    TLinkFailure lastFailure;
    TBatchMark commandBatch;
    bool closeAsked = false;
    bool socketConnected = false; // main thread
    // Main thread: from Open until the connection is made, has failed or the
    // link has closed. The socket is not active before it connects, and
    // nothing may change the transport under an attempt.
    bool opening = false;

    // Declared last so they go first: their threads call back into the above.
    std::unique_ptr<TClientSocket> socket;
    std::unique_ptr<TComPort> port;

    TImpl(TCommThread* owner, const TOptions& options)
        : q(owner)
        , clock(options.clock)
        , sleep(options.sleep)
        , trace(options.trace)
        , manualCycles(options.manualCycles)
        , timing(options.timing)
    {
        if (!clock)
            clock = [] { return std::chrono::steady_clock::now().time_since_epoch(); };
        if (!sleep)
            sleep = [](nanoseconds span) { std::this_thread::sleep_for(span); };
    }

    // --- events -----------------------------------------------------------

    // Runs fn on the main thread: at once when already there, else queued with
    // the copies it captured, in the order raised, without waiting, and only
    // when the link session it was raised in is still on.
    template <class Fn>
    void Raise(Fn fn)
    {
        if (QThread::currentThread() == q->thread()) {
            fn();
            return;
        }
        std::lock_guard lock(postLock);
        Post(std::move(fn));
    }

    // Under postLock.
    template <class Fn>
    void Post(Fn fn)
    {
        const std::uint64_t raisedIn = session.load();
        ++posts;
        delivery.Post([this, raisedIn, fn = std::move(fn)] {
            if (session.load() == raisedIn)
                fn();
        });
    }

    // OnReply for a status reply that no queued request waits for: while one
    // is still on its way to the main thread as the last event posted, a
    // newer one takes its place, so replies that come faster than the window
    // takes them cost it one each time it looks.
    void RaiseStatusReply(const TCanonicalFrame& reply)
    {
        if (QThread::currentThread() == q->thread()) {
            RaiseEvent(&TCommThread::OnReply, reply);
            return;
        }
        std::lock_guard lock(postLock);
        if (waitingStatus && waitingStatusPost == posts && waitingStatusSession == session.load()) {
            *waitingStatus = reply;
            return;
        }
        waitingStatus = reply;
        TCommThread* self = q;
        Post([this, self] {
            TCanonicalFrame newest;
            {
                std::lock_guard lock(postLock);
                newest = std::move(*waitingStatus);
                waitingStatus.reset();
            }
            if (self->OnReply)
                self->OnReply(self, newest);
        });
        waitingStatusPost = posts;
        waitingStatusSession = session.load();
    }

    // Main thread: what the ending session raised and has not been delivered
    // yet is dropped.
    void EndSession() { ++session; }

    // Main thread: the worker stops at the start of its next cycle and nothing
    // the session raised is delivered any more.
    void StopSession()
    {
        Pause();
        EndSession();
        opening = false;
    }

    void DropQueue()
    {
        q->HoldQueueLock();
        const TQueueLockHeld held{queueLock};
        queue.clear();
    }

    bool Busy() const { return opening || q->IsActive(); }

    // The parity the mode's first byte goes out with.
    TParityBits OpeningParity() const
    {
        return q->DataBits.load() == 8 ? TParityBits::prEven : TParityBits::prMark;
    }

    // Raises one of the eight events, only when a receiver is attached at the
    // time it runs; the arguments travel as copies.
    template <class... Args>
    void RaiseEvent(std::function<void(TCommThread*, Args...)> TCommThread::*event,
                    std::type_identity_t<std::decay_t<Args>>... args)
    {
        TCommThread* self = q;
        Raise([self, event, args...] {
            if (self->*event)
                (self->*event)(self, args...);
        });
    }

    // The end of a queued request: its mark, and for a failure the reason,
    // are set on the main thread just before the event.
    void RaiseCommandEnd(std::function<void(TCommThread*)> TCommThread::*event, TBatchMark mark,
                         const QString& failure = {})
    {
        TCommThread* self = q;
        Raise([self, event, mark, failure] {
            self->d->commandBatch = mark;
            if (!failure.isEmpty())
                self->d->lastFailure = OtherFailure(failure);
            if (self->*event)
                (self->*event)(self);
        });
    }

    // Sets the reason on the main thread just before the event, so that the
    // handler reads it with LastError.
    void RaiseFailure(std::function<void(TCommThread*)> TCommThread::*event, const TLinkFailure& reason)
    {
        TCommThread* self = q;
        Raise([self, event, reason] {
            self->d->lastFailure = reason;
            if (self->*event)
                (self->*event)(self);
        });
    }

    TLinkFailure FailureOf(const std::exception& e) const
    {
        if (const auto* portError = dynamic_cast<const EComPort*>(&e)) {
            // the port's own words say more than the errno's text ("Operation not supported")
            if (!portError->Detail().isEmpty())
                return OtherFailure(portError->Detail());
            return PortFailure(PortNames::DevicePath(port->Port()), portError->SystemError(),
                               QString::fromLocal8Bit(e.what()));
        }
        return OtherFailure(QString::fromLocal8Bit(e.what()));
    }

    void Trace(TTraceEntry::TKind kind, const TByteString& line, const TCanonicalFrame& frame = {})
    {
        if (trace)
            trace({kind, line, frame});
    }

    // --- worker -----------------------------------------------------------

    void Pause()
    {
        std::unique_lock lock(pauseMutex);
        paused = true;
        pauseChanged.wait(lock, [this] { return !inCycle; });
    }

    void Resume()
    {
        {
            std::lock_guard lock(pauseMutex);
            paused = false;
        }
        pauseChanged.notify_all();
    }

    // Sleeps until the next moment a cycle can do anything (the end of the
    // poll interval or of the reply time-out), at least one worker period,
    // woken early when a reply frees the line; a wake-up every 2 ms whatever
    // happens would cost more CPU than the whole traffic.
    void Execute()
    {
        std::unique_lock lock(pauseMutex);
        while (!terminate) {
            if (paused) {
                pauseChanged.wait(lock, [this] { return terminate || !paused; });
                continue;
            }
            const std::uint64_t seen = lineFreed;
            lock.unlock();
            const nanoseconds wait = NextCycleIn();
            lock.lock();
            pauseChanged.wait_for(lock, wait, [&] { return terminate || paused || lineFreed != seen; });
            if (terminate || paused)
                continue;
            inCycle = true;
            lock.unlock();
            q->RunCycle();
            lock.lock();
            inCycle = false;
            pauseChanged.notify_all();
        }
    }

    nanoseconds NextCycleIn()
    {
        bool idle;
        {
            std::lock_guard lock(linkLock);
            idle = outstanding.isEmpty();
        }
        // a cycle acts only once "more than" the span has passed
        const nanoseconds due = lastSend + (idle ? nanoseconds(timing.sendInterval) : nanoseconds(timing.replyTimeout)) + 50us;
        return std::max<nanoseconds>(WorkerPeriod, due - clock());
    }

    void WakeWorker()
    {
        {
            std::lock_guard lock(pauseMutex);
            ++lineFreed;
        }
        pauseChanged.notify_all();
    }

    // --- sending ----------------------------------------------------------

    bool TryTakeQueued(TQueued& request)
    {
        if (queueLock.test_and_set(std::memory_order_acquire))
            return false;
        const TQueueLockHeld held{queueLock};
        // a batch of a link session that has ended would reach whatever
        // module the next session finds
        while (!queue.empty() && queue.front().mark.batch != 0 && queue.front().session != session.load())
            queue.pop_front();
        if (queue.empty())
            return false;
        request = std::move(queue.front());
        queue.pop_front();
        return true;
    }

    void Send(const TCanonicalFrame& request)
    {
        if (q->LANMode()) {
            // The TCP stream carries only the 8-bit framed form.
            const TByteString line = EncodeFramed8(request);
            Trace(TTraceEntry::TKind::Sent, line, request);
            socket->Socket()->SendString(line);
        } else if (q->DataBits.load() == 8) {
            SetLineParity(TParityBits::prEven);
            const TByteString line = EncodeFramed8(request);
            Trace(TTraceEntry::TKind::Sent, line, request);
            port->WriteBytes(line);
        } else {
            const TNineBitLineForm line = EncodeNineBit(request);
            Trace(TTraceEntry::TKind::Sent, line.markPart + line.spacePart, request);
            SetLineParity(TParityBits::prMark);
            port->WriteBytes(line.markPart);
            sleep(NineBitAddressPause);
            SetLineParity(TParityBits::prSpace);
            port->WriteBytes(line.spacePart);
        }
    }

    // A line that cannot be given the parity its mode needs will never carry
    // a request: the session ends with the reason instead of a time-out after
    // every request. Nothing is written with the wrong parity. A device that
    // went away meanwhile is a lost line, whatever call noticed it.
    void SetLineParity(TParityBits parity)
    {
        try {
            port->SetParity(parity);
        } catch (const EComPort& e) {
            if (e.DeviceGone())
                LineLost(e.SystemError());
            else if (e.ErrorNumber() == LineSettingsRefused)
                LineFailed(OtherFailure(QString::fromLocal8Bit(e.what())), true);
            throw;
        }
    }

    void SendOutstanding(const TCanonicalFrame& request, nanoseconds now, TBatchMark mark = {})
    {
        {
            // A buffer of its own rather than one shared through Qt's reference
            // count with the worker's copy: the receive path clears it on
            // another thread, and the thread checker cannot see into Qt.
            std::lock_guard lock(linkLock);
            outstanding = TByteString(request.constData(), request.size());
            outstandingMark = mark;
        }
        try {
            Send(request);
        } catch (...) {
            // The request stays outstanding and times out like an unanswered
            // one; counting the failed attempt as the send keeps a dead line
            // from producing a time-out every other cycle.
            lastSend = now;
            throw;
        }
        lastSend = now;
        std::lock_guard lock(linkLock);
        framed8Rx.ClearEscape();
    }

    void SendSlot(nanoseconds now)
    {
        fromQueue = 0;
        TQueued request;
        int pending = assignState.load();
        if (pending >= 0 && assignState.compare_exchange_strong(pending, AssignFollowUpDue)) {
            request.frame = BuildFrame(ModuleRequests::AddressAssignment(static_cast<std::uint8_t>(pending)));
        } else if (TryTakeQueued(request)) {
            if (ByteAt(request.frame, FrameOffset::Address) != 0)
                fromQueue = 1;
        } else {
            request.frame = BuildFrame(ModuleRequests::Poll(q->HWAddress.load()));
        }
        SendOutstanding(request.frame, now, request.mark);
    }

    void Timeout(nanoseconds now)
    {
        int due = AssignFollowUpDue;
        if (assignState.compare_exchange_strong(due, AssignIdle)) {
            SendOutstanding(BuildFrame(ModuleRequests::AssignmentFollowUp()), now);
            return;
        }
        TBatchMark mark;
        {
            std::lock_guard lock(linkLock);
            Trace(TTraceEntry::TKind::Timeout, {}, outstanding);
            mark = outstandingMark;
            ClearLine();
        }
        if (fromQueue.load() == 1)
            RaiseCommandEnd(&TCommThread::OnCommandTimeout, mark, NoReplyText(timing.replyTimeout));
        else
            RaiseEvent(&TCommThread::OnTimeout);
    }

    // --- receiving --------------------------------------------------------

    // No request outstanding, no reply half assembled. Under linkLock.
    void ClearLine()
    {
        outstanding.clear();
        framed8Rx.Clear();
        nineBitRx.Clear();
    }

    void Receive(const TByteString& bytes, bool framed8)
    {
        std::optional<TJudgedReply> judged;
        bool queued;
        TBatchMark mark;
        {
            std::lock_guard lock(linkLock);
            Trace(TTraceEntry::TKind::Received, bytes);
            // taken from the front by an offset: a burst of replies costs its
            // length, never its length times the replies in it
            QByteArrayView rest(bytes);
            for (;;) {
                qsizetype used = rest.size();
                judged = framed8 ? framed8Rx.Feed(rest, &used) : nineBitRx.Feed(rest, &used);
                if (!judged)
                    return;
                rest = rest.sliced(used);
                const auto* good = std::get_if<TGoodReply>(&*judged);
                if (!good || !ModuleReplies::AnswersAnotherRequest(good->frame, outstanding))
                    break;
                // A late answer to an earlier request: the outstanding one
                // still waits for its own, which may follow in the same chunk.
                Trace(TTraceEntry::TKind::LateReply, {}, good->frame);
            }
            // the 9-bit reply is the whole buffer, with what came after the frame
            if (auto* good = std::get_if<TGoodReply>(&*judged); good && !framed8)
                good->frame.append(rest);
            // read before the request is cleared: the worker may send the next one
            queued = fromQueue.load() == 1;
            if (const auto* good = std::get_if<TGoodReply>(&*judged))
                Trace(TTraceEntry::TKind::Reply, {}, good->frame);
            else
                Trace(TTraceEntry::TKind::BadCheck, {});
            mark = outstandingMark;
            ClearLine();
        }
        WakeWorker();
        if (const auto* good = std::get_if<TGoodReply>(&*judged)) {
            // a queued request's reply is never one to pass over
            if (!queued && ByteAt(good->frame, FrameOffset::Command) == ModuleReplies::StatusCode) {
                RaiseStatusReply(good->frame);
            } else {
                RaiseEvent(&TCommThread::OnReply, good->frame);
                if (queued)
                    RaiseCommandEnd(&TCommThread::OnCommandDone, mark);
            }
        } else {
            const QString why = BadCheckWordText(std::get<TBadReply>(*judged));
            RaiseFailure(&TCommThread::OnChecksumError, OtherFailure(why));
            // the request was answered, but with nothing it can count on
            if (queued)
                RaiseCommandEnd(&TCommThread::OnCommandTimeout, mark, why);
        }
    }

    // --- transport events -------------------------------------------------

    // The port opened or the socket connected: the worker runs from now on.
    void TransportOpened()
    {
        Resume();
        RaiseEvent(&TCommThread::OnOpen);
    }

    // The port's event thread has ended, or the socket is gone: whatever they
    // raised before belongs to the session that ends here.
    void TransportClosed()
    {
        EndSession();
        RaiseEvent(&TCommThread::OnClose);
    }

    void ComPortRxChar(int count)
    {
        try {
            TByteString data;
            port->ReadBytes(data, count);
            Receive(data, q->DataBits.load() == 8);
        } catch (const std::exception& e) {
            const QString message = QString::fromLocal8Bit(e.what());
            Raise([message] { AppErrors::Report(message); });
        }
    }

    // The serial line cannot go on (the device went away, or cannot do what
    // the mode needs): the link is closed on the main thread as after a socket
    // error, with the reason as the last error. A line that cannot do what the
    // mode needs is also reported, since nothing else would say why.
    void LineFailed(const TLinkFailure& reason, bool report)
    {
        TCommThread* self = q;
        Raise([self, reason, report] {
            self->Close();
            self->d->lastFailure = reason;
            if (self->OnCommError)
                self->OnCommError(self);
            if (report)
                AppErrors::Report(reason.sentence);
        });
    }

    void LineLost(int errnoValue)
    {
        LineFailed(PortFailure(PortNames::DevicePath(port->Port()), errnoValue, QStringLiteral("the line was lost")),
                   false);
    }

    void SocketError(int& errorCode)
    {
        q->Close();
        const TLinkFailure reason = SocketFailure(QStringLiteral("%1:%2").arg(socket->Host()).arg(socket->Port()), errorCode);
        errorCode = 0;
        RaiseFailure(&TCommThread::OnCommError, reason);
    }

    void SocketRead()
    {
        Receive(socket->Socket()->ReceiveString(), true);
    }

    void WireTransports()
    {
        port = std::make_unique<TComPort>();
        port->SetPort("COM2");
        port->SetBaudRate(TBaudRate::br19200);
        port->SetDataBits(TDataBits::dbEight);
        port->SetStopBits(TStopBits::sbOneStopBit);
        port->SetControlDTR(TDTRFlowControl::dtrEnable);
        port->SetSyncMethod(TSyncMethod::smNone);
        port->OnAfterOpen = [this](TComPort*) { TransportOpened(); };
        port->OnAfterClose = [this](TComPort*) { TransportClosed(); };
        port->OnRxChar = [this](TComPort*, int count) { ComPortRxChar(count); };
        port->OnLineLost = [this](TComPort*, int errnoValue) { LineLost(errnoValue); };

        socket = std::make_unique<TClientSocket>();
        socket->SetHost(InitialHost);
        socket->SetPort(InitialPort);
        socket->OnConnect = [this](TClientSocket*, TClientWinSocket*) {
            socketConnected = true;
            opening = false;
            TransportOpened();
        };
        socket->OnDisconnect = [this](TClientSocket*, TClientWinSocket*) {
            const bool wasConnected = std::exchange(socketConnected, false);
            if (closeAsked) {
                TransportClosed();
                return;
            }
            // The session ends here as after Close: a worker going on would
            // only time out into a window that shows the link stopped.
            StopSession();
            DropQueue();
            // never connected: the host's name could not be looked up
            const QString host = socket->Host();
            RaiseFailure(&TCommThread::OnClose,
                         wasConnected ? TLinkFailure{TLinkFailure::TKind::ClosedByServer, {},
                                                     QStringLiteral("Connection closed by the device server")}
                                      : TLinkFailure{TLinkFailure::TKind::HostNotFound, host,
                                                     QStringLiteral("Host %1 not found").arg(host)});
        };
        socket->OnError = [this](TClientSocket*, TClientWinSocket*, TErrorEvent, int& code) { SocketError(code); };
        socket->OnRead = [this](TClientSocket*, TClientWinSocket*) { SocketRead(); };
    }
};

TCommThread::TCommThread(QObject* parent)
    : TCommThread(TOptions{}, parent)
{
}

TCommThread::TCommThread(const TOptions& options, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<TImpl>(this, options))
{
    d->WireTransports();
    if (!d->manualCycles)
        d->worker = std::thread([this] { d->Execute(); });
}

TCommThread::~TCommThread()
{
    {
        std::lock_guard lock(d->pauseMutex);
        d->terminate = true;
    }
    d->pauseChanged.notify_all();
    if (d->worker.joinable())
        d->worker.join();
    // Nothing runs cycles any more; the transports' own threads end with them.
    // The port's event thread may be in a handler that reads through d->port
    // until the port has joined it, so d->port points at the port while it goes
    // (reset() would clear it first).
    delete d->port.get();
    (void)d->port.release();
    d->socket.reset();
}

void TCommThread::Open()
{
    {
        std::lock_guard lock(d->linkLock);
        d->outstanding.clear();
    }
    d->lastFailure = {};
    try {
        if (LANMode()) {
            if (!d->socket->Active()) {
                d->socket->SetActive(true);
                d->opening = !d->socket->Active();
            }
        } else if (!d->port->Connected()) {
            // What the last session left on the port is no concern of this
            // one: an 8-bit session must open after a 9-bit one was refused.
            d->port->SetParity(d->OpeningParity());
            d->port->Open();
        }
    } catch (const std::exception& e) {
        d->RaiseFailure(&TCommThread::OnCommError, d->FailureOf(e));
    }
}

void TCommThread::Close()
{
    d->StopSession();
    d->lastFailure = {};
    const bool nested = std::exchange(d->closeAsked, true);
    try {
        if (LANMode()) {
            // also abandons a lookup or connect under way: no OnOpen follows
            d->socket->SetActive(false);
        } else if (d->port->Connected()) {
            d->port->Close();
        }
    } catch (const std::exception& e) {
        d->RaiseFailure(&TCommThread::OnCommError, d->FailureOf(e));
    }
    d->closeAsked = nested;
    d->DropQueue();
}

QString TCommThread::LastError() const
{
    return d->lastFailure.sentence;
}

const TLinkFailure& TCommThread::LastFailure() const
{
    return d->lastFailure;
}

bool TCommThread::IsActive() const
{
    return LANMode() ? d->socket->Active() : d->port->Connected();
}

bool TCommThread::IsOpening() const
{
    return d->opening;
}

void TCommThread::AddCommand(const TByteString& body)
{
    QCoreApplication::processEvents();
    while (d->queueLock.test_and_set(std::memory_order_acquire))
        QCoreApplication::processEvents();
    const TQueueLockHeld held{d->queueLock};
    // The bare 00 00 00 goes out as it is, without a check word.
    d->queue.push_back({body == BytesOf({0, 0, 0}) ? body : BuildFrame(body), {}, 0});
}

std::uint64_t TCommThread::AddCommands(const QList<TByteString>& bodies)
{
    QList<TCanonicalFrame> frames;
    for (const TByteString& body : bodies)
        frames << BuildFrame(body);
    if (frames.isEmpty() || !IsActive())
        return 0;
    const std::uint64_t batch = ++d->lastBatch;
    HoldQueueLock();
    const TQueueLockHeld held{d->queueLock};
    const std::uint64_t session = d->session.load();
    for (qsizetype i = 0; i < frames.size(); ++i)
        d->queue.push_back({frames[i], {batch, i == frames.size() - 1}, session});
    return batch;
}

int TCommThread::CancelBatch(std::uint64_t batch)
{
    HoldQueueLock();
    const TQueueLockHeld held{d->queueLock};
    return int(std::erase_if(d->queue, [batch](const TImpl::TQueued& r) { return r.mark.batch == batch; }));
}

TCommThread::TBatchMark TCommThread::CommandBatch() const
{
    return d->commandBatch;
}

void TCommThread::AssignHWAddress(std::uint8_t address)
{
    d->assignState = address;
}

void TCommThread::RunCycle()
{
    try {
        const nanoseconds now = d->clock();
        bool idle;
        {
            std::lock_guard lock(d->linkLock);
            idle = d->outstanding.isEmpty();
        }
        const nanoseconds sinceSend = now - d->lastSend;
        if (idle && sinceSend > d->timing.sendInterval)
            d->SendSlot(now);
        else if (sinceSend > d->timing.replyTimeout)
            d->Timeout(now);
    } catch (const std::exception&) {
        // A failed cycle raises nothing; an unanswered request times out.
    }
}

void TCommThread::SetTiming(const TLinkTiming& timing)
{
    if (d->Busy())
        throw std::runtime_error(ActiveChangeError);
    d->timing = timing;
}

const TLinkTiming& TCommThread::Timing() const
{
    return d->timing;
}

void TCommThread::SetComPort(int number)
{
    const QString name = number >= 2 && number <= 8 ? QStringLiteral("COM%1").arg(number) : QStringLiteral("COM1");
    try {
        d->port->SetPort(name);
    } catch (const std::exception&) {
        try {
            d->port->SetPort(QStringLiteral("COM2"));
        } catch (const std::exception&) {
            // the port keeps its name; opening it reports the error
        }
    }
}

int TCommThread::GetComPort() const
{
    const QString name = d->port->Port().toUpper();
    if (name.size() == 4 && name.startsWith(QLatin1String("COM")) && name[3] >= QLatin1Char('2') && name[3] <= QLatin1Char('8'))
        return name[3].digitValue();
    return 1;
}

void TCommThread::SetLANMode(bool lan)
{
    if (lan != LANMode()) {
        if (d->Busy())
            throw std::runtime_error(ActiveChangeError);
        FLANMode = lan;
    }
    if (LANMode())
        DataBits = 8;
}

void TCommThread::SetIPAddress(const QString& host)
{
    if (host == d->socket->Host())
        return;
    if (d->Busy())
        throw std::runtime_error(ActiveChangeError);
    d->socket->SetHost(host);
}

QString TCommThread::GetIPAddress() const
{
    return d->socket->Host();
}

void TCommThread::SetIPPort(int port)
{
    if (port == d->socket->Port())
        return;
    if (d->Busy())
        throw std::runtime_error(ActiveChangeError);
    d->socket->SetPort(port);
}

int TCommThread::GetIPPort() const
{
    return d->socket->Port();
}

void TCommThread::HoldQueueLock()
{
    while (d->queueLock.test_and_set(std::memory_order_acquire))
        std::this_thread::yield();
}

void TCommThread::ReleaseQueueLock()
{
    d->queueLock.clear(std::memory_order_release);
}

TComPort& TCommThread::ComPort()
{
    return *d->port;
}

TClientSocket& TCommThread::ClientSocket()
{
    return *d->socket;
}
