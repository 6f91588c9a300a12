#pragma once
// A device server that does not answer, on the loopback interface.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A loopback listener that never completes a handshake: its accept queue
// (backlog 0) is full with one connection, so the kernel drops every further
// SYN, as on a dead network.
class TDeadServer {
public:
    TDeadServer()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::bind(FListener, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(FListener, 0);
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &size);
        FPort = ntohs(address.sin_port);
        FFiller = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        FFilled = ::connect(FFiller, reinterpret_cast<sockaddr*>(&address), size) == 0;
    }
    ~TDeadServer()
    {
        ::close(FAccepted);
        ::close(FFiller);
        ::close(FListener);
    }
    bool Filled() const { return FFilled; }
    int Port() const { return FPort; }

    // Takes the waiting connection: the queue has room again, so an attempt
    // that is still retrying its SYN gets through.
    void Revive()
    {
        ::fcntl(FListener, F_SETFL, O_NONBLOCK);
        FAccepted = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    // Whether anyone connected since Revive.
    bool Reached()
    {
        const int other = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (other >= 0)
            ::close(other);
        return other >= 0;
    }

private:
    int FListener = -1;
    int FFiller = -1;
    int FAccepted = -1;
    bool FFilled = false;
    int FPort = 0;
};

