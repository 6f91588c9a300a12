#include "ports/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};
constexpr int Handled[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int signalNumber)
{
    const int saved = errno;
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(SignalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TTerminationSignals::TTerminationSignals(QObject* parent)
    : QObject(parent)
{
}

TTerminationSignals::~TTerminationSignals()
{
    if (SignalPipe[0] < 0)
        return;
    for (int signalNumber : Handled)
        std::signal(signalNumber, SIG_DFL);
    delete FNotifier;
    ::close(SignalPipe[0]);
    ::close(SignalPipe[1]);
    SignalPipe[0] = SignalPipe[1] = -1;
}

bool TTerminationSignals::Install(QString& error)
{
    if (::pipe2(SignalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : Handled)
        ::sigaction(signalNumber, &action, nullptr);
    // a client or a reader of our output going away must not kill us
    std::signal(SIGPIPE, SIG_IGN);
    FNotifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read);
    connect(FNotifier, &QSocketNotifier::activated, this, &TTerminationSignals::ReadPipe);
    return true;
}

void TTerminationSignals::ReadPipe()
{
    char byte = 0;
    if (::read(SignalPipe[0], &byte, 1) == 1)
        emit Received(static_cast<unsigned char>(byte));
}
