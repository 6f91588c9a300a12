// TComPort: settings and their rules, opening and closing, the event thread
// and the locks between the three threads that use the port. The system calls
// are in ComPortPosix.cpp.
//
// Threads and locks:
// - the main thread opens and closes (openCloseLock keeps Open, Close and
//   SetPort apart; it is never held while an event runs or while the event
//   thread is joined, so a handler may call Close or Open);
// - the link's worker sets the parity and writes; lineLock puts line changes
//   and writes in turn, so a parity switch never lands inside a write;
// - the event thread reads. It takes no lock but fdLock (shared, short), so an
//   OnRxChar handler that calls ReadBytes, WriteBytes or a setter cannot
//   deadlock with a Close that is joining it;
// - fdLock guards the descriptor itself: shared while used, unique only while
//   Open publishes it and Close closes it (after the event thread has ended
//   and the last write has returned).
//
// SyncMethod: every method delivers OnRxChar on the event thread, as smNone
// does (the link's setting). A handler that needs the main thread posts there
// itself; a port that waited for the main thread could deadlock with a Close
// made on the main thread.

#include "ports/ComPort.h"

#include "base/AppErrors.h"

#include "ports/ComPortPosix.h"
#include "ports/PortNames.h"

#include <QtGlobal>

#include <pthread.h>

#include <cerrno>
#include <iterator>
#include <mutex>
#include <shared_mutex>
#include <system_error>
#include <thread>
#include <vector>

using namespace ComPortPosix;

namespace {

constexpr int kNoSystemError = -1;
constexpr int kCannotSetWhileConnected = 14;

const char* const kMessages[] = {
    "Unable to open com port",                          // 1
    "WriteFile function failed",                        // 2
    "ReadFile function failed",                         // 3
    "Invalid Async parameter",                          // 4
    "PurgeComm function failed",                        // 5
    "Unable to get async status",                       // 6
    "SetCommState function failed",                     // 7
    "SetCommTimeouts failed",                           // 8
    "SetupComm function failed",                        // 9
    "ClearCommError function failed",                   // 10
    "GetCommModemStatus function failed",               // 11
    "EscapeCommFunction function failed",               // 12
    "TransmitCommChar function failed",                 // 13
    "Cannot set property while connected",             // 14
    "EnumPorts function failed",                        // 15
    "Failed to store settings",                         // 16
    "Failed to load settings",                          // 17
    "Link (un)registration failed",                     // 18
    "Cannot change led state if ComPort is selected",   // 19
    "Cannot wait for event if event thread is created", // 20
    "WaitForEvent method failed",                       // 21
    "A component is linked to OnRxBuf event",           // 22
    "Registry error",                                   // 23
};

int SystemErrorFor(int errorNumber, int systemError)
{
    return errorNumber == kCannotSetWhileConnected ? kNoSystemError : systemError;
}

std::string FullMessage(int errorNumber, int systemError, const QString& detail)
{
    QString text = EComPort::MessageText(errorNumber);
    if (!detail.isEmpty())
        text += QStringLiteral(": ") + detail;
    // the number is the errno, said with the system's own words for it
    if (systemError != kNoSystemError)
        text += QStringLiteral(" (error %1: %2)").arg(systemError).arg(qt_error_string(systemError));
    return text.toStdString();
}

// Bytes the last OnRxChar left unread are not reported again until the count
// changes; meanwhile the queue is looked at this often instead of spinning on
// a POLLIN that stays set.
constexpr int kQuietPollMs = 10;

} // namespace

EComPort::EComPort(int errorNumber, int systemError)
    : EComPort(errorNumber, systemError, QString())
{
}

EComPort::EComPort(int errorNumber, int systemError, const QString& detail)
    : std::runtime_error(FullMessage(errorNumber, SystemErrorFor(errorNumber, systemError), detail))
    , FErrorNumber(errorNumber)
    , FSystemError(SystemErrorFor(errorNumber, systemError))
    , FDetail(detail)
{
}

bool EComPort::IsDeviceGone(int errnoValue)
{
    return errnoValue == EIO || errnoValue == ENXIO || errnoValue == ENODEV;
}

QString EComPort::MessageText(int errorNumber)
{
    if (errorNumber < 1 || errorNumber > int(std::size(kMessages)))
        return QString();
    return QString::fromLatin1(kMessages[errorNumber - 1]);
}

// One run of the event thread (TComThread).
struct TEventThread {
    std::thread thread;
    std::atomic<bool> stop{false};
    int wakeFd = -1;
};

struct TComPort::TImpl {
    explicit TImpl(TComPort* owner) : q(owner) {}

    TComPort* const q;

    // Settings; held only to read or change them.
    mutable std::mutex settingsLock;
    QString port = QStringLiteral("COM1");
    TLineSettings line;
    TSyncMethod syncMethod = TSyncMethod::smThreadSync;

    std::mutex openCloseLock;
    std::atomic<bool> connected{false};
    bool closing = false;                                 // openCloseLock
    std::shared_ptr<TEventThread> events;                 // openCloseLock
    std::vector<std::shared_ptr<TEventThread>> leftovers; // openCloseLock: closed from their own thread

    std::mutex lineLock;
    TDTRFlowControl appliedDTR = TDTRFlowControl::dtrDisable; // lineLock: as the device has it
    // lineLock: a change failed half way, so the device may hold neither the
    // recorded line nor the one asked for; the next change is applied whole.
    bool lineInDoubt = false;

    mutable std::shared_mutex fdLock;
    int fd = -1;
    QString device; // fdLock: the path fd was opened as

    std::atomic<quint64> bytesRead{0};
    std::atomic<bool> lineLost{false};

    TLineSettings Line() const
    {
        std::lock_guard lock(settingsLock);
        return line;
    }

    // Compare first; a change reaches an open port before the setter returns,
    // and is recorded only once the driver has taken it: a parity that was
    // refused or never applied must not pass for the line's.
    template <class T>
    void ChangeLine(T TLineSettings::*field, T value)
    {
        std::lock_guard lineGuard(lineLock);
        TLineSettings wanted = Line();
        if (wanted.*field == value && !lineInDoubt)
            return;
        wanted.*field = value;
        {
            std::shared_lock fdGuard(fdLock);
            if (fd >= 0) {
                // Drain first: the driver applies the new parity to bytes still
                // in its queue, and the 9-bit address byte must leave with MARK.
                DrainOutput(fd);
                try {
                    ApplyLine(fd, wanted, wanted.ControlDTR != appliedDTR || lineInDoubt, device);
                } catch (...) {
                    lineInDoubt = true;
                    throw;
                }
                appliedDTR = wanted.ControlDTR;
                lineInDoubt = false;
            }
        }
        std::lock_guard lock(settingsLock);
        line = wanted;
    }

    void RunEvents(std::shared_ptr<TEventThread> ev, int lineFd);
    void FireRxChar(int count);
    void LineLost(int errnoValue);
    // Stops a run and joins it; false when called on that run's own thread.
    static bool StopEvents(TEventThread& ev);
    void JoinLeftovers();
    // Close; without the flush only as the destructor's last resort after a failed Close.
    void Shutdown(bool flush);
};

void TComPort::TImpl::RunEvents(std::shared_ptr<TEventThread> ev, int lineFd)
{
    // quiet >= 0: the bytes that the last OnRxChar left in the queue, unread.
    // POLLIN would stay set for them, so the queue is then looked at every
    // kQuietPollMs until its count changes or someone reads.
    int quiet = -1;
    quint64 quietReads = 0;
    while (!ev->stop.load()) {
        const bool level = quiet < 0;
        const TWaitResult w = WaitForEvent(lineFd, ev->wakeFd, level, level ? -1 : kQuietPollMs);
        if (w.stop || ev->stop.load())
            break;
        int count = 0;
        try {
            count = PendingInput(lineFd);
        } catch (const EComPort& e) {
            // A hung-up tty answers every ioctl with EIO.
            LineLost(e.SystemError());
            return;
        }
        const quint64 reads = bytesRead.load();
        if (count > 0 && (level || count != quiet || reads != quietReads)) {
            FireRxChar(count);
            if (ev->stop.load())
                break; // the handler closed the port: lineFd is gone
            quietReads = bytesRead.load();
            quiet = quietReads == reads ? count : -1;
            continue;
        }
        // Received bytes are delivered before a hang-up is: a pty keeps what
        // the far end wrote before it closed.
        if (w.hangup) {
            LineLost(w.error);
            return;
        }
        if (count == 0)
            quiet = level ? 0 : -1; // POLLIN with nothing there: one slow round, not a spin
    }
}

void TComPort::TImpl::FireRxChar(int count)
{
    if (!q->OnRxChar)
        return;
    // An exception must not end the thread (std::terminate); the link catches
    // its own and reports them, so anything arriving here is a stray.
    try {
        q->OnRxChar(q, count);
    } catch (const std::exception& e) {
        qCWarning(ProgramLog, "TComPort: OnRxChar handler raised: %s", e.what());
    } catch (...) {
        qCWarning(ProgramLog, "TComPort: OnRxChar handler raised");
    }
}

void TComPort::TImpl::LineLost(int errnoValue)
{
    lineLost.store(true);
    if (!q->OnLineLost)
        return;
    try {
        q->OnLineLost(q, errnoValue);
    } catch (const std::exception& e) {
        qCWarning(ProgramLog, "TComPort: OnLineLost handler raised: %s", e.what());
    } catch (...) {
        qCWarning(ProgramLog, "TComPort: OnLineLost handler raised");
    }
}

bool TComPort::TImpl::StopEvents(TEventThread& ev)
{
    ev.stop.store(true);
    SignalWakeup(ev.wakeFd);
    if (ev.thread.get_id() == std::this_thread::get_id())
        return false;
    if (ev.thread.joinable())
        ev.thread.join();
    return true;
}

void TComPort::TImpl::JoinLeftovers()
{
    std::vector<std::shared_ptr<TEventThread>> done;
    {
        std::lock_guard lock(openCloseLock);
        for (auto it = leftovers.begin(); it != leftovers.end();) {
            if ((*it)->thread.get_id() != std::this_thread::get_id()) {
                done.push_back(std::move(*it));
                it = leftovers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& ev : done)
        if (ev->thread.joinable())
            ev->thread.join();
}

void TComPort::TImpl::Shutdown(bool flush)
{
    JoinLeftovers();
    std::unique_lock oc(openCloseLock);
    if (!connected.load() || closing)
        return;
    if (flush) {
        std::shared_lock fdGuard(fdLock);
        // Abort what is still queued both ways. A lost
        // line has nothing left to clear.
        if (!lineLost.load())
            FlushBoth(fd);
    }
    closing = true;
    std::shared_ptr<TEventThread> ev = std::move(events);
    oc.unlock();

    // No lock is held here: the event thread may be inside a handler that
    // calls ReadBytes, WriteBytes or a setter.
    const bool joined = !ev || StopEvents(*ev);

    oc.lock();
    {
        // Waits for a write in progress on the worker.
        std::lock_guard lineGuard(lineLock);
        std::unique_lock fdGuard(fdLock);
        CloseDevice(fd);
        fd = -1;
    }
    if (ev) {
        // Closed from a handler on the event thread itself: that thread sees
        // its stop flag before it waits again, and is joined later.
        CloseWakeup(ev->wakeFd);
        if (!joined)
            leftovers.push_back(std::move(ev));
    }
    connected.store(false);
    closing = false;
    oc.unlock();

    if (q->OnAfterClose)
        q->OnAfterClose(q);
}

TComPort::TComPort()
    : d(std::make_unique<TImpl>(this))
{
}

TComPort::~TComPort()
{
    try {
        Close();
    } catch (...) {
        // The flush failed; the port goes all the same.
        try {
            d->Shutdown(false);
        } catch (...) {
        }
    }
    d->JoinLeftovers();
    // Destroyed from its own event thread's handler: that thread cannot join itself.
    std::lock_guard lock(d->openCloseLock);
    for (auto& ev : d->leftovers)
        if (ev->thread.joinable())
            ev->thread.detach();
}

void TComPort::Open()
{
    d->JoinLeftovers();
    std::unique_lock oc(d->openCloseLock);
    if (d->connected.load())
        return;
    const QString path = PortNames::DevicePath(Port());
    auto ev = std::make_shared<TEventThread>();
    int lineFd = -1;
    {
        std::lock_guard lineGuard(d->lineLock);
        lineFd = OpenDevice(path);
        try {
            // Buffer sizes (SetupComm) have no counterpart here: the tty has its
            // own queues. Timeouts are part of the line (VMIN/VTIME).
            const TLineSettings now = d->Line();
            ApplyLine(lineFd, now, true, path);
            d->appliedDTR = now.ControlDTR;
            d->lineInDoubt = false;
            RequestLowLatency(lineFd);
            // The line discipline may hold bytes it took in before the line was
            // raw (cooked, even echoed): they are nobody's reply.
            FlushBoth(lineFd);
            ev->wakeFd = CreateWakeup();
        } catch (...) {
            CloseDevice(lineFd);
            throw;
        }
        std::unique_lock fdGuard(d->fdLock);
        d->fd = lineFd;
        d->device = path;
    }
    d->lineLost.store(false);
    d->connected.store(true);
    try {
        ev->thread = std::thread(&TImpl::RunEvents, d.get(), ev, lineFd);
        // named for top -H, gdb and the tests that count these threads
        ::pthread_setname_np(ev->thread.native_handle(), "vyx com events");
    } catch (const std::system_error& e) {
        CloseWakeup(ev->wakeFd);
        {
            std::unique_lock fdGuard(d->fdLock);
            CloseDevice(d->fd);
            d->fd = -1;
        }
        d->connected.store(false);
        throw EComPort(1, e.code().value());
    }
    d->events = ev;
    oc.unlock();

    if (OnAfterOpen)
        OnAfterOpen(this);

    // The modem input lines are read last; nothing here uses them yet.
    std::shared_lock fdGuard(d->fdLock);
    if (d->fd >= 0)
        ReadModemStatus(d->fd);
}

void TComPort::Close()
{
    d->Shutdown(true);
}

bool TComPort::Connected() const
{
    return d->connected.load();
}

int TComPort::WriteBytes(const TByteString& data)
{
    if (data.isEmpty())
        return 0;
    std::lock_guard lineGuard(d->lineLock);
    std::shared_lock fdGuard(d->fdLock);
    // Closed: the descriptor -1 makes the system answer EBADF.
    return WriteAll(d->fd, data.constData(), int(data.size()));
}

int TComPort::ReadBytes(TByteString& data, int count)
{
    data.clear();
    if (count <= 0)
        return 0;
    data.resize(count);
    int n = 0;
    try {
        std::shared_lock fdGuard(d->fdLock);
        n = ReadSome(d->fd, data.data(), count);
    } catch (...) {
        data.clear();
        throw;
    }
    data.resize(n);
    d->bytesRead.fetch_add(quint64(n));
    return n;
}

int TComPort::PendingInputCount() const
{
    std::shared_lock fdGuard(d->fdLock);
    return PendingInput(d->fd);
}

QString TComPort::Port() const
{
    std::lock_guard lock(d->settingsLock);
    return d->port;
}

void TComPort::SetPort(const QString& name)
{
    {
        std::lock_guard lock(d->settingsLock);
        if (d->port == name)
            return;
        if (!d->connected.load()) {
            d->port = name;
            return;
        }
    }
    Close();
    {
        std::lock_guard lock(d->settingsLock);
        d->port = name;
    }
    Open();
}

TBaudRate TComPort::BaudRate() const
{
    return d->Line().BaudRate;
}

void TComPort::SetBaudRate(TBaudRate rate)
{
    d->ChangeLine(&TLineSettings::BaudRate, rate);
}

TDataBits TComPort::DataBits() const
{
    return d->Line().DataBits;
}

void TComPort::SetDataBits(TDataBits bits)
{
    d->ChangeLine(&TLineSettings::DataBits, bits);
}

TStopBits TComPort::StopBits() const
{
    return d->Line().StopBits;
}

void TComPort::SetStopBits(TStopBits bits)
{
    d->ChangeLine(&TLineSettings::StopBits, bits);
}

TParityBits TComPort::Parity() const
{
    return d->Line().Parity;
}

void TComPort::SetParity(TParityBits bits)
{
    d->ChangeLine(&TLineSettings::Parity, bits);
}

TDTRFlowControl TComPort::ControlDTR() const
{
    return d->Line().ControlDTR;
}

void TComPort::SetControlDTR(TDTRFlowControl dtr)
{
    d->ChangeLine(&TLineSettings::ControlDTR, dtr);
}

TSyncMethod TComPort::SyncMethod() const
{
    std::lock_guard lock(d->settingsLock);
    return d->syncMethod;
}

void TComPort::SetSyncMethod(TSyncMethod method)
{
    std::lock_guard lock(d->settingsLock);
    if (d->syncMethod == method)
        return;
    if (d->connected.load())
        throw EComPort(kCannotSetWhileConnected, kNoSystemError);
    d->syncMethod = method;
}
