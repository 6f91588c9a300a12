#include "ports/ClientSocket.h"

#include "base/AppErrors.h"
#include "base/MainThreadQueue.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace {

// What one read takes at most: the rest waits for the next pass of the event
// loop, so that a peer sending without pause cannot starve the window of its
// other events, and the reader's work per read stays small.
constexpr int MaxReadBytes = 16 * 1024;

ESocketError MakeError(const QString& message)
{
    return ESocketError(message.toStdString());
}

ESocketError CallFailed(const QString& errorText, int number, const QString& api)
{
    return MakeError(QStringLiteral("Socket error: %1 (%2), on '%3'")
                         .arg(errorText, QString::number(number), api));
}

ESocketError AsynchronousError(int code)
{
    return MakeError(QString::asprintf("Asynchronous socket error %d", code));
}

// The outcome of a name lookup: an IPv4 address, or getaddrinfo's code.
struct TLookupResult {
    std::optional<quint32> address;
    int code = 0;
};

std::atomic<TClientSocket::TNameLookup> gNameLookup{&::getaddrinfo};

// Blocks: runs on a thread of its own for a name.
TLookupResult LookUp(const QByteArray& host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET; // an IPv6-only name is no use to an IPv4 client
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    TLookupResult result;
    result.code = gNameLookup.load()(host.constData(), nullptr, &hints, &found);
    if (result.code == 0 && found)
        result.address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    if (found)
        ::freeaddrinfo(found);
    return result;
}

// A name that does not exist is what a technician mistypes; anything else
// (no name server) keeps the resolver's own words.
ESocketError LookupFailed(int code, const QString& host)
{
    if (code == EAI_NONAME || code == EAI_NODATA)
        return MakeError(QStringLiteral("Host %1 not found").arg(host));
    return MakeError(QStringLiteral("Host %1: %2").arg(host, QString::fromLocal8Bit(::gai_strerror(code))));
}

// A device server that vanished without closing (power cut, cable pulled)
// must be noticed within seconds. Keep-alive probes cover an idle connection;
// they never run while data is unacknowledged, and the link sends every
// 250 ms, so the user time-out ends a connection whose data has gone
// unacknowledged for 3 s. Frames are tiny and each waits for its reply, so
// Nagle would only add latency. Each option is a refinement: one that the
// system refuses leaves the connection as the system makes it.
void TuneForDeviceLink(int handle)
{
    struct TOption {
        int level;
        int name;
        int value;
    };
    static constexpr TOption options[] = {
        {SOL_SOCKET, SO_KEEPALIVE, 1},   {IPPROTO_TCP, TCP_KEEPIDLE, 5},
        {IPPROTO_TCP, TCP_KEEPINTVL, 2}, {IPPROTO_TCP, TCP_KEEPCNT, 3},
        {IPPROTO_TCP, TCP_USER_TIMEOUT, 3000}, {IPPROTO_TCP, TCP_NODELAY, 1},
    };
    for (const TOption& option : options)
        ::setsockopt(handle, option.level, option.name, &option.value, sizeof option.value);
}

bool WouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

// Qt lets no exception through its event loop: whatever a notification
// raises goes to the application's error reporting instead.
template <typename TBody>
void Guarded(TBody&& body)
{
    try {
        body();
    } catch (const std::exception& e) {
        AppErrors::Report(QString::fromUtf8(e.what()));
    }
}

} // namespace

ESocketError ESocketError::SystemCall(int errnoValue, const QString& api)
{
    char buffer[256];
    const char* text = ::strerror_r(errnoValue, buffer, sizeof buffer);
    return CallFailed(QString::fromLocal8Bit(text), errnoValue, api);
}

namespace {

// The name lookups of one socket, on one thread at a time. getaddrinfo cannot
// be interrupted: a lookup given up (Stop, or a new attempt) is not waited for,
// and its thread, once the call returns, drops that result and takes up the
// latest lookup wanted, if any. A name server that never answers so holds one
// thread, however often the user starts again.
class TLookups {
public:
    using TDeliver = std::function<void(const TLookupResult&)>;

    // Owner's thread: deliver (through queue) runs with the result unless
    // the lookup is given up first.
    void Want(const QByteArray& host, TMainThreadQueue* queue, TDeliver deliver, const std::shared_ptr<TLookups>& self)
    {
        std::lock_guard guard(FLock);
        FNext = TRequest{host, ++FWanted, std::move(deliver)};
        FQueue = queue;
        if (FRunning)
            return;
        // the thread waits for the lock until this returns
        std::thread lookup([self] { self->Run(); });
        // named for top -H, gdb and the tests that count these threads
        ::pthread_setname_np(lookup.native_handle(), "vyx lookup");
        lookup.detach();
        FRunning = true;
    }

    // Owner's thread: nothing is delivered from now on until the next Want.
    void GiveUp()
    {
        std::lock_guard guard(FLock);
        FNext.reset();
        ++FWanted;
    }

private:
    struct TRequest {
        QByteArray host;
        quint64 number = 0;
        TDeliver deliver;
    };

    void Run()
    {
        std::unique_lock guard(FLock);
        while (FNext) {
            const TRequest request = std::move(*FNext);
            FNext.reset();
            guard.unlock();
            const TLookupResult result = LookUp(request.host);
            guard.lock();
            if (request.number == FWanted)
                FQueue->Post([deliver = request.deliver, result] { deliver(result); });
        }
        FRunning = false;
    }

    std::mutex FLock;
    std::optional<TRequest> FNext;
    quint64 FWanted = 0; // the number of the lookup still wanted
    TMainThreadQueue* FQueue = nullptr;
    bool FRunning = false;
};

} // namespace

struct TClientSocket::TImpl {
    explicit TImpl(TClientSocket* q) : Q(q)
    {
        FConnectTimer.setSingleShot(true);
        FConnectTimer.setInterval(DefaultConnectTimeoutMs);
    }
    // Before the queue goes: a lookup that returns later delivers nowhere.
    ~TImpl() { FLookups->GiveUp(); }

    TClientSocket* const Q;

    // Owner's thread only.
    QString FHost;
    int FPort = 0;
    const std::shared_ptr<TLookups> FLookups = std::make_shared<TLookups>();
    QSocketNotifier* FReadNotifier = nullptr;
    QSocketNotifier* FConnectNotifier = nullptr;
    QTimer FConnectTimer;
    // What another thread (the link's worker sending) hands over to this one.
    TMainThreadQueue FHandOver;
    std::atomic<bool> FActive{false};

    // The worker sends while the owner's thread receives and disconnects.
    // FHandle and FGeneration are written under the lock by the owner's
    // thread alone, which may therefore read them without it.
    mutable std::mutex FLock;
    int FHandle = -1;
    bool FConnected = false; // cleared by a failed send on the worker too
    // Changes with every socket, so that a late notification or a queued
    // failure of an earlier socket is recognised and dropped.
    quint64 FGeneration = 0;

    bool OnOwnerThread() const { return QThread::currentThread() == Q->thread(); }

    void Open();
    void LookupDone(quint64 generation, int port, const TLookupResult& result);
    void ConnectDone(quint64 generation);
    void ConnectTimedOut();
    void Readable(quint64 generation);
    void Disconnect(bool notify);
    bool ReleaseHandle();

    int Send(const TByteString& data);
    TByteString Receive();
    void ResumeReading(quint64 generation);
    void Fail(quint64 generation, TErrorEvent kind, int error, const char* api);
    void HandleFailure(quint64 generation, TErrorEvent kind, int error, const char* api);

    QSocketNotifier* NewNotifier(QSocketNotifier::Type type, quint64 generation,
                                 void (TImpl::*handler)(quint64));
    static void DropNotifier(QSocketNotifier*& notifier);

    void FireNotify(const std::function<void(TClientSocket*, TClientWinSocket*)>& event);
    int FireError(TErrorEvent kind, int error);
};

// Handlers are called through a copy: they may reassign the event or destroy
// the socket while they run.
void TClientSocket::TImpl::FireNotify(const std::function<void(TClientSocket*, TClientWinSocket*)>& event)
{
    if (auto handler = event)
        handler(Q, &Q->FSocket);
}

int TClientSocket::TImpl::FireError(TErrorEvent kind, int error)
{
    if (auto handler = Q->OnError)
        handler(Q, &Q->FSocket, kind, error);
    return error;
}

void TClientSocket::TImpl::Open()
{
    if (FHost.isEmpty())
        throw MakeError(QStringLiteral("No address specified"));
    if (FPort < 0 || FPort > 65535)
        throw ESocketError::SystemCall(EINVAL, QStringLiteral("connect"));

    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (handle == -1)
        throw MakeError(QStringLiteral("Can't create new socket"));
    TuneForDeviceLink(handle);

    quint64 generation;
    {
        std::lock_guard lock(FLock);
        FHandle = handle;
        generation = ++FGeneration;
    }
    FConnectTimer.start();
    // The port of this attempt: Active stays false during the lookup, so SetPort
    // may change FPort meanwhile.
    const int port = FPort;
    const auto done = [this, generation, port](const TLookupResult& result) {
        return [this, generation, port, result] { Guarded([&] { LookupDone(generation, port, result); }); };
    };
    const QByteArray host = FHost.toUtf8();
    in_addr numeric{};
    if (::inet_pton(AF_INET, host.constData(), &numeric) == 1) {
        // A dotted address needs no lookup; the outcome still follows from the
        // event loop, as after one.
        FHandOver.Post(done({ntohl(numeric.s_addr), 0}));
        return;
    }
    // getaddrinfo blocks, and Qt's own lookup hands its result over in ways
    // the thread checker cannot follow: a thread of our own, posting through
    // the socket's queue.
    FLookups->Want(host, &FHandOver, [done](const TLookupResult& result) { done(result)(); }, FLookups);
}

void TClientSocket::TImpl::LookupDone(quint64 generation, int port, const TLookupResult& result)
{
    if (generation != FGeneration)
        return;

    const std::optional<quint32> address = result.address;
    if (!address) {
        const ESocketError error = LookupFailed(result.code ? result.code : EAI_NONAME, FHost);
        Disconnect(true);
        throw error;
    }

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<quint16>(port));
    peer.sin_addr.s_addr = htonl(*address);
    if (::connect(FHandle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0
        || errno == EINPROGRESS) {
        // Also when already connected: the write notification follows at once.
        FConnectNotifier = NewNotifier(QSocketNotifier::Write, generation, &TImpl::ConnectDone);
        return;
    }
    // Refused at once (no route, no permission): reported like a refusal that
    // arrives later, so that the handler learns of it either way.
    const int error = errno;
    ReleaseHandle();
    if (FireError(TErrorEvent::eeConnect, error) != 0)
        throw ESocketError::SystemCall(error, QStringLiteral("connect"));
}

void TClientSocket::TImpl::ConnectDone(quint64 generation)
{
    if (generation != FGeneration)
        return;
    // Writable stays signalled while connected; only the completion matters.
    DropNotifier(FConnectNotifier);

    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(FHandle, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error != 0) {
        // The attempt is over; the next one starts with a new socket.
        ReleaseHandle();
        if (const int code = FireError(TErrorEvent::eeConnect, error))
            throw AsynchronousError(code);
        return;
    }

    {
        std::lock_guard lock(FLock);
        FConnected = true;
    }
    FConnectTimer.stop();
    FReadNotifier = NewNotifier(QSocketNotifier::Read, generation, &TImpl::Readable);
    FActive = true;
    FireNotify(Q->OnConnect);
}

// Stopped whenever the attempt ends, so it only fires on one still under way.
void TClientSocket::TImpl::ConnectTimedOut()
{
    ReleaseHandle();
    if (const int code = FireError(TErrorEvent::eeConnect, ETIMEDOUT))
        throw AsynchronousError(code);
}

void TClientSocket::TImpl::Readable(quint64 generation)
{
    if (generation != FGeneration)
        return;
    // Off until ReceiveString has read, as the system's read notification:
    // a handler that leaves the bytes waiting must not be called in a loop.
    FReadNotifier->setEnabled(false);
    {
        // A failed send waits to be reported; that report ends the connection.
        std::lock_guard lock(FLock);
        if (!FConnected)
            return;
    }

    char probe;
    const ssize_t waiting = ::recv(FHandle, &probe, 1, MSG_PEEK);
    if (waiting > 0) {
        FireNotify(Q->OnRead);
        return;
    }
    if (waiting == 0) {
        Disconnect(true);
        return;
    }
    const int error = errno;
    // After a reported error the next read sees the end of the connection.
    FReadNotifier->setEnabled(true);
    if (WouldBlock(error) || error == EINTR)
        return;
    if (const int code = FireError(TErrorEvent::eeReceive, error))
        throw AsynchronousError(code);
}

// Returns whether there was a socket. Leaves the events to the caller.
bool TClientSocket::TImpl::ReleaseHandle()
{
    FConnectTimer.stop();
    FLookups->GiveUp();
    DropNotifier(FReadNotifier);
    DropNotifier(FConnectNotifier);
    int handle;
    {
        std::lock_guard lock(FLock);
        handle = std::exchange(FHandle, -1);
        FConnected = false;
        ++FGeneration;
    }
    if (handle == -1)
        return false;
    // Linux releases the descriptor even when close reports an error.
    ::close(handle);
    return true;
}

// The state is reset before OnDisconnect, so its handler may connect again.
void TClientSocket::TImpl::Disconnect(bool notify)
{
    const bool hadSocket = ReleaseHandle();
    FActive = false;
    if (hadSocket && notify)
        FireNotify(Q->OnDisconnect);
}

int TClientSocket::TImpl::Send(const TByteString& data)
{
    const std::size_t size = static_cast<std::size_t>(std::min<qsizetype>(data.size(), INT_MAX));
    quint64 generation;
    int error;
    {
        std::lock_guard lock(FLock);
        if (!FConnected)
            return 0;
        ssize_t sent;
        do
            sent = ::send(FHandle, data.constData(), size, MSG_NOSIGNAL);
        while (sent == -1 && errno == EINTR);
        if (sent >= 0)
            return static_cast<int>(sent);
        error = errno;
        if (WouldBlock(error))
            return -1;
        generation = FGeneration;
    }
    Fail(generation, TErrorEvent::eeSend, error, "send");
    return -1;
}

TByteString TClientSocket::TImpl::Receive()
{
    TByteString data;
    quint64 generation;
    int error = 0;
    {
        std::lock_guard lock(FLock);
        if (!FConnected)
            return data;
        generation = FGeneration;
        int waiting = 0;
        if (::ioctl(FHandle, FIONREAD, &waiting) != 0) {
            error = errno;
        } else if (waiting > 0) {
            data.resize(std::min(waiting, MaxReadBytes));
            const ssize_t received = ::recv(FHandle, data.data(), static_cast<std::size_t>(data.size()), 0);
            if (received >= 0) {
                data.truncate(received);
            } else {
                error = errno;
                data.clear();
            }
        }
    }
    ResumeReading(generation);
    if (error != 0 && !WouldBlock(error))
        Fail(generation, TErrorEvent::eeReceive, error, "recv");
    return data;
}

void TClientSocket::TImpl::ResumeReading(quint64 generation)
{
    auto resume = [this, generation] {
        if (generation == FGeneration && FReadNotifier)
            FReadNotifier->setEnabled(true);
    };
    if (OnOwnerThread())
        resume();
    else
        FHandOver.Post(resume);
}

// The handlers run on the owner's thread. A failure met on another thread
// (the link's worker sending) is handed over there instead of running them
// inline: the link's error handler closes the socket, and the worker must
// never wait for the owner's thread. Until then nothing more is sent.
void TClientSocket::TImpl::Fail(quint64 generation, TErrorEvent kind, int error, const char* api)
{
    {
        std::lock_guard lock(FLock);
        if (generation != FGeneration)
            return;
        FConnected = false;
    }
    if (OnOwnerThread()) {
        HandleFailure(generation, kind, error, api);
        return;
    }
    FHandOver.Post([this, generation, kind, error, api] { Guarded([&] { HandleFailure(generation, kind, error, api); }); });
}

void TClientSocket::TImpl::HandleFailure(quint64 generation, TErrorEvent kind, int error, const char* api)
{
    if (generation != FGeneration)
        return;
    const QPointer<TClientSocket> alive(Q);
    const int code = FireError(kind, error);
    // The handler may have closed, reconnected or destroyed the socket.
    if (alive && generation == FGeneration)
        Disconnect(true);
    if (code != 0)
        throw ESocketError::SystemCall(error, QString::fromLatin1(api));
}

QSocketNotifier* TClientSocket::TImpl::NewNotifier(QSocketNotifier::Type type, quint64 generation,
                                                   void (TImpl::*handler)(quint64))
{
    auto* notifier = new QSocketNotifier(FHandle, type, Q);
    QObject::connect(notifier, &QSocketNotifier::activated, Q, [this, generation, handler] {
        Guarded([&] { (this->*handler)(generation); });
    });
    return notifier;
}

// Not deleted at once: this may run inside the notifier's own signal.
void TClientSocket::TImpl::DropNotifier(QSocketNotifier*& notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
}

TClientWinSocket::TClientWinSocket(TClientSocket* owner) : FOwner(owner) {}

int TClientWinSocket::SendString(const TByteString& data)
{
    return FOwner->d->Send(data);
}

TByteString TClientWinSocket::ReceiveString()
{
    return FOwner->d->Receive();
}

bool TClientWinSocket::Connected() const
{
    std::lock_guard lock(FOwner->d->FLock);
    return FOwner->d->FConnected;
}

TClientSocket::TClientSocket(QObject* parent) : QObject(parent), d(std::make_unique<TImpl>(this)), FSocket(this)
{
    connect(&d->FConnectTimer, &QTimer::timeout, this, [this] { Guarded([&] { d->ConnectTimedOut(); }); });
}

// Quietly: the handlers may belong to an owner that is being destroyed too.
TClientSocket::~TClientSocket()
{
    d->Disconnect(false);
}

QString TClientSocket::Host() const
{
    return d->FHost;
}

void TClientSocket::SetHost(const QString& host)
{
    if (host.compare(d->FHost, Qt::CaseInsensitive) == 0)
        return;
    if (d->FActive)
        throw MakeError(QStringLiteral("Can't change value while socket is active"));
    d->FHost = host;
}

int TClientSocket::Port() const
{
    return d->FPort;
}

void TClientSocket::SetPort(int port)
{
    if (port == d->FPort)
        return;
    if (d->FActive)
        throw MakeError(QStringLiteral("Can't change value while socket is active"));
    d->FPort = port;
}

bool TClientSocket::Active() const
{
    return d->FActive;
}

void TClientSocket::SetActive(bool active)
{
    // A socket without Active is an attempt under way.
    if (active && d->FHandle == -1)
        d->Open();
    else if (!active)
        d->Disconnect(true);
}

TClientSocket::TNameLookup TClientSocket::SetNameLookup(TNameLookup lookup)
{
    return gNameLookup.exchange(lookup ? lookup : &::getaddrinfo);
}

void TClientSocket::SetConnectTimeout(int ms)
{
    d->FConnectTimer.setInterval(std::max(ms, 1));
}

TClientWinSocket* TClientSocket::Socket()
{
    return &FSocket;
}
