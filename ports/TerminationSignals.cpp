#include "ports/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};
constexpr int Handled[] = {SIGINT, SIGTERM, SIGHUP};
// What each signal did before ours, and whether ours is in place.
struct sigaction Previous[std::size(Handled)];
bool Caught[std::size(Handled)];
struct sigaction PreviousPipe;
// A request to end has arrived and is being carried out.
volatile sig_atomic_t Ending = 0;

void OnSignal(int signalNumber)
{
    const int saved = errno;
    // Asked again while the first request is still being carried out: the
    // close may be stuck, so the signal does what it does by default, now.
    if (Ending && (signalNumber == SIGINT || signalNumber == SIGTERM)) {
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigemptyset(&byDefault.sa_mask);
        ::sigaction(signalNumber, &byDefault, nullptr);
        ::raise(signalNumber); // delivered as this handler returns
        errno = saved;
        return;
    }
    Ending = 1;
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(SignalPipe[1], &byte, 1);
    errno = saved;
}

// Started under nohup (or in the background of a shell without job control):
// whoever started us asked for these to be ignored.
bool KeepsInheritedIgnore(int signalNumber, const struct sigaction& inherited)
{
    return (signalNumber == SIGHUP || signalNumber == SIGINT) && inherited.sa_handler == SIG_IGN;
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
    for (std::size_t i = 0; i < std::size(Handled); ++i)
        if (Caught[i])
            ::sigaction(Handled[i], &Previous[i], nullptr);
    ::sigaction(SIGPIPE, &PreviousPipe, nullptr);
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
    Ending = 0;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(Handled); ++i) {
        ::sigaction(Handled[i], nullptr, &Previous[i]);
        Caught[i] = !KeepsInheritedIgnore(Handled[i], Previous[i]);
        if (Caught[i])
            ::sigaction(Handled[i], &action, nullptr);
    }
    // a client or a reader of our output going away must not kill us
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &PreviousPipe);
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
