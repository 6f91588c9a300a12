#pragma once
// TCP client of the reader link: a non-blocking POSIX socket whose connect,
// read, close and error notifications arrive on the thread that owns it (the
// main thread) through its event loop. SendString may be called from another
// thread; it takes the socket object's lock.

#include "base/CommTypesU.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>

struct addrinfo;

class ESocketError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    // "Socket error: %s (%d), on '%s'" with strerror(errnoValue).
    static ESocketError SystemCall(int errnoValue, const QString& api);
};

enum class TErrorEvent { eeGeneral = 0, eeSend = 1, eeReceive = 2, eeConnect = 3, eeDisconnect = 4, eeAccept = 5 };

class TClientSocket;

// The connection itself.
class TClientWinSocket {
public:
    // Sends once, under the lock. Not connected: nothing sent, 0. Would block:
    // -1, the bytes are dropped. A failure fires OnError (eeSend), disconnects,
    // and raises unless the handler zeroed ErrorCode; met on another thread,
    // that happens later on the owner's thread (the message then goes to
    // AppErrors) and -1 is returned.
    int SendString(const TByteString& data);
    // What has been received so far, at most some KB; the rest comes with the
    // next OnRead (empty when not connected).
    TByteString ReceiveString();
    bool Connected() const;

private:
    friend class TClientSocket;
    explicit TClientWinSocket(TClientSocket* owner);
    TClientSocket* FOwner;
};

class TClientSocket : public QObject {
    Q_OBJECT
public:
    explicit TClientSocket(QObject* parent = nullptr);
    ~TClientSocket() override; // disconnects when connected

    // Host compared without regard to case, Port exactly; a different value
    // while active raises "Can't change value while socket is active".
    QString Host() const;
    void SetHost(const QString& host);
    int Port() const;
    void SetPort(int port);

    // true: starts the lookup and the connect and returns; OnConnect or OnError
    // follows, the latter with ETIMEDOUT when no connection is made within
    // the connect time-out. An attempt already under way goes on. false:
    // disconnects now, or abandons an attempt under way (OnDisconnect fires
    // during the call either way, and OnConnect never follows). Active is
    // true only between OnConnect and OnDisconnect.
    bool Active() const;
    void SetActive(bool active);
    // Lookup and connect together, in milliseconds. Without a limit a server
    // that never answers keeps the attempt going for the kernel's retry time.
    static constexpr int DefaultConnectTimeoutMs = 5000;
    void SetConnectTimeout(int ms);

    // The blocking name lookup, getaddrinfo unless replaced (a test puts in
    // one that hangs as a dead name server does). Returns the previous one.
    using TNameLookup = int (*)(const char* host, const char* service, const addrinfo* hints, addrinfo** found);
    static TNameLookup SetNameLookup(TNameLookup lookup);

    TClientWinSocket* Socket();

    std::function<void(TClientSocket*, TClientWinSocket*)> OnConnect;
    std::function<void(TClientSocket*, TClientWinSocket*)> OnDisconnect;
    std::function<void(TClientSocket*, TClientWinSocket*)> OnRead;
    // errorCode is the errno value; the handler may set it to 0 to absorb the
    // error, otherwise "Asynchronous socket error %d" is raised.
    std::function<void(TClientSocket*, TClientWinSocket*, TErrorEvent, int& errorCode)> OnError;

private:
    friend class TClientWinSocket;
    struct TImpl;
    std::unique_ptr<TImpl> d;
    TClientWinSocket FSocket;
};
