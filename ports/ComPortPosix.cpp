// The serial port's operating-system side: termios, the modem-line and queue
// ioctls, the exclusive open, the waits of the event thread. Everything that
// touches a descriptor is here; ComPort.cpp holds the rules and the threads.

#include "ports/ComPortPosix.h"

#include <fcntl.h>
#include <poll.h>
#include <csignal>
#include <ctime>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
// serial_struct and ASYNC_LOW_LATENCY (TIOCGSERIAL) exist only in the kernel's header.
#include <linux/serial.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <mutex>

namespace ComPortPosix {

namespace {

// The one place where an errno becomes an error.
[[noreturn]] void Raise(int number, int errnoValue)
{
    throw EComPort(number, errnoValue);
}

// The kernel's own struct termios (asm/termbits.h cannot be included beside
// <termios.h>): the generic layout, which glibc's struct begins with.
#if defined(__powerpc__) || defined(__mips__) || defined(__alpha__) || defined(__sparc__)
#error "TKernelTermios has the generic kernel layout; this architecture has its own"
#endif
struct TKernelTermios {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
};

// TCSETS straight to the kernel. glibc's tcsetattr reads the record back and
// answers EINVAL when nothing it asked for took, which is every parity change
// on a pty that differs only in PARENB (a pty always clears it): the read-back
// check the line must not have.
int SetTermios(int fd, int action, const termios* t)
{
    TKernelTermios k{t->c_iflag, t->c_oflag, t->c_cflag, t->c_lflag, t->c_line, {}};
    std::copy(t->c_cc, t->c_cc + sizeof k.c_cc, k.c_cc);
    const unsigned long request = action == TCSADRAIN ? TCSETSW : action == TCSAFLUSH ? TCSETSF : TCSETS;
    return ::ioctl(fd, request, &k);
}

class TRealSystemCalls final : public ISystemCalls {
public:
    int Open(const char* path, int flags) override { return ::open(path, flags); }
    int Close(int fd) override { return ::close(fd); }
    int Flock(int fd, int operation) override { return ::flock(fd, operation); }
    int Ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
    int Tcgetattr(int fd, termios* t) override { return ::tcgetattr(fd, t); }
    int Tcsetattr(int fd, int action, const termios* t) override { return SetTermios(fd, action, t); }
    int Tcdrain(int fd) override { return ::tcdrain(fd); }
    int Tcflush(int fd, int queue) override { return ::tcflush(fd, queue); }
    ssize_t Write(int fd, const void* data, std::size_t size) override { return ::write(fd, data, size); }
    ssize_t Read(int fd, void* data, std::size_t size) override { return ::read(fd, data, size); }
};

TRealSystemCalls gReal;
std::atomic<ISystemCalls*> gReplacement{nullptr};

ISystemCalls& Sys()
{
    ISystemCalls* replacement = gReplacement.load(std::memory_order_acquire);
    return replacement ? *replacement : gReal;
}

// A pty (and any other device without modem lines) answers the modem-line
// ioctls with one of these: nothing to set there, not an error of the line.
bool NoModemLines(int errnoValue)
{
    return errnoValue == ENOTTY || errnoValue == EINVAL;
}

std::optional<speed_t> SpeedConstant(int bitsPerSecond)
{
    struct TEntry {
        int rate;
        speed_t constant;
    };
    static constexpr TEntry table[] = {
        {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
        {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
        {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
        {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
        {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
        {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const TEntry& e : table)
        if (e.rate == bitsPerSecond)
            return e.constant;
    return std::nullopt;
}

// Bits per second that a TBaudRate stands for (brCustom: custom).
int BaudRateValue(TBaudRate rate, int custom)
{
    switch (rate) {
    case TBaudRate::brCustom: return custom;
    case TBaudRate::br110: return 110;
    case TBaudRate::br300: return 300;
    case TBaudRate::br600: return 600;
    case TBaudRate::br1200: return 1200;
    case TBaudRate::br2400: return 2400;
    case TBaudRate::br4800: return 4800;
    case TBaudRate::br9600: return 9600;
    case TBaudRate::br14400: return 14400;
    case TBaudRate::br19200: return 19200;
    case TBaudRate::br38400: return 38400;
    case TBaudRate::br56000: return 56000;
    case TBaudRate::br57600: return 57600;
    case TBaudRate::br115200: return 115200;
    case TBaudRate::br128000: return 128000;
    case TBaudRate::br256000: return 256000;
    }
    return custom;
}

// 1000 ms + 100 ms per byte, as the port's write time-outs are set.
std::chrono::steady_clock::time_point WriteDeadline(std::int64_t bytes)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(1000 + 100 * std::max<std::int64_t>(bytes, 0));
}

// What is still queued is nobody's any more once a write has failed.
void FlushOutput(int fd)
{
    Sys().Tcflush(fd, TCOFLUSH);
}

// tcdrain has no time limit of its own: an adapter that stops taking bytes
// keeps it waiting for ever. While one of these lives, a timer signal aimed
// at this thread interrupts a waiting drain (EINTR) every tick, so that the
// caller can look at the clock. SA_RESTART spares every other call of the
// thread; a drain is never restarted after a handler.
class TDrainTicker {
public:
    TDrainTicker()
    {
        static std::once_flag installed;
        std::call_once(installed, [] {
            struct sigaction action {};
            action.sa_handler = [](int) {};
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            ::sigaction(Signal(), &action, nullptr);
        });
        sigevent event{};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = Signal();
        event._sigev_un._tid = ::gettid(); // glibc has no name for the field
        // without a timer the drain would have no time limit: it is not tried
        if (::timer_create(CLOCK_MONOTONIC, &event, &FTimer) != 0)
            Raise(2, errno);
        const timespec tick{0, kTickMs * 1000000L};
        const itimerspec every{tick, tick};
        ::timer_settime(FTimer, 0, &every, nullptr);
    }
    ~TDrainTicker() { ::timer_delete(FTimer); }
    TDrainTicker(const TDrainTicker&) = delete;
    TDrainTicker& operator=(const TDrainTicker&) = delete;

private:
    static constexpr long kTickMs = 20;
    // A real-time signal that nothing else in the program uses.
    static int Signal() { return SIGRTMIN + 1; }
    timer_t FTimer{};
};

void SetModemLine(int fd, int line, bool on)
{
    int bits = line;
    if (Sys().Ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) != 0 && !NoModemLines(errno))
        Raise(7, errno);
}

} // namespace

std::optional<termios> ToTermios(const TLineSettings& s, const termios& base)
{
    const std::optional<speed_t> speed = SpeedConstant(BaudRateValue(s.BaudRate, s.CustomBaudRate));
    if (!speed)
        return std::nullopt;

    termios t = base;
    // Raw: no byte is changed, dropped or taken as a signal, no XON/XOFF.
    // Received parity is ignored (Check off): without INPCK a byte whose parity
    // bit does not match passes unchanged, which the 9-bit replies need (their
    // address byte comes with MARK). IGNPAR stays off: some UART drivers take
    // it as "drop bytes with parity errors" whatever INPCK says.
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | IGNPAR | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON
                           | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);

    // CMSPAR is cleared for none/odd/even too: else the line stays stuck on
    // MARK or SPACE after the 9-bit mode has used them.
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    // CLOCAL: no carrier on a bus adapter; HUPCL: DTR drops at close as on Windows.
    t.c_cflag |= CREAD | CLOCAL | HUPCL;
    switch (s.DataBits) {
    case TDataBits::dbFive: t.c_cflag |= CS5; break;
    case TDataBits::dbSix: t.c_cflag |= CS6; break;
    case TDataBits::dbSeven: t.c_cflag |= CS7; break;
    case TDataBits::dbEight: t.c_cflag |= CS8; break;
    }
    switch (s.Parity) {
    case TParityBits::prNone: break;
    case TParityBits::prOdd: t.c_cflag |= PARENB | PARODD; break;
    case TParityBits::prEven: t.c_cflag |= PARENB; break;
    case TParityBits::prMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case TParityBits::prSpace: t.c_cflag |= PARENB | CMSPAR; break;
    }
    // The UART gives one and a half stop bits for CSTOPB with five data bits.
    if (s.StopBits != TStopBits::sbOneStopBit)
        t.c_cflag |= CSTOPB;

    // A read returns at once with what is there.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    cfsetispeed(&t, *speed);
    cfsetospeed(&t, *speed);
    return t;
}

ISystemCalls& RealSystemCalls()
{
    return gReal;
}

ISystemCalls* SetSystemCalls(ISystemCalls* calls)
{
    return gReplacement.exchange(calls, std::memory_order_acq_rel);
}

int OpenDevice(const QString& path)
{
    const QByteArray name = path.toLocal8Bit();
    const int fd = Sys().Open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        Raise(1, errno);
    // flock first, so that a device another program holds is refused before
    // its tty state is touched. TIOCEXCL then keeps out later opens that do not
    // flock (root passes TIOCEXCL, never the flock).
    if (Sys().Flock(fd, LOCK_EX | LOCK_NB) != 0 || Sys().Ioctl(fd, TIOCEXCL, nullptr) != 0) {
        const int cause = errno;
        Sys().Close(fd);
        Raise(1, cause);
    }
    return fd;
}

void CloseDevice(int fd)
{
    Sys().Ioctl(fd, TIOCNXCL, nullptr);
    // Not retried on EINTR: Linux has released the descriptor anyway.
    Sys().Close(fd);
}

void DrainOutput(int fd)
{
    int queued = 0;
    if (Sys().Ioctl(fd, TIOCOUTQ, &queued) != 0)
        queued = 0;
    const auto deadline = WriteDeadline(queued);
    const TDrainTicker ticker;
    while (Sys().Tcdrain(fd) != 0) {
        // the bytes before did not leave (a device gone, an I/O error): a
        // failure of the output, not a refusal of the line settings
        if (errno != EINTR)
            Raise(2, errno);
        if (std::chrono::steady_clock::now() >= deadline) {
            FlushOutput(fd);
            Raise(2, ETIMEDOUT);
        }
    }
}

void ApplyLine(int fd, const TLineSettings& s, bool modemLines, const QString& device)
{
    // termios has no DTR/DSR handshake; refused rather than run without it.
    if (s.ControlDTR == TDTRFlowControl::dtrHandshake)
        Raise(7, EINVAL);
    termios base{};
    if (Sys().Tcgetattr(fd, &base) != 0)
        Raise(7, errno);
    const std::optional<termios> t = ToTermios(s, base);
    if (!t)
        Raise(7, EINVAL);
    if (Sys().Tcsetattr(fd, TCSANOW, &*t) != 0)
        Raise(7, errno);
    if (s.Parity == TParityBits::prMark || s.Parity == TParityBits::prSpace) {
        // Only CMSPAR tells: a pty keeps it but always clears PARENB.
        termios applied{};
        if (Sys().Tcgetattr(fd, &applied) != 0)
            Raise(7, errno);
        if (!(applied.c_cflag & CMSPAR))
            throw EComPort(7, EOPNOTSUPP,
                           QStringLiteral("%1 cannot send MARK or SPACE parity, which the 9-bit mode needs").arg(device));
    }
    if (!modemLines)
        return;
    SetModemLine(fd, TIOCM_DTR, s.ControlDTR == TDTRFlowControl::dtrEnable);
    SetModemLine(fd, TIOCM_RTS, false);
}

void RequestLowLatency(int fd)
{
    serial_struct serial{};
    // A pty or a driver without serial_struct: nothing to ask for.
    if (Sys().Ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY))
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    // Refused: the line works all the same, it only reports received bytes later.
    Sys().Ioctl(fd, TIOCSSERIAL, &serial);
}

void FlushBoth(int fd)
{
    if (Sys().Tcflush(fd, TCIOFLUSH) != 0 && !EComPort::IsDeviceGone(errno))
        Raise(5, errno);
}

void ReadModemStatus(int fd)
{
    int lines = 0;
    if (Sys().Ioctl(fd, TIOCMGET, &lines) != 0 && !NoModemLines(errno))
        Raise(11, errno);
}

int PendingInput(int fd)
{
    int count = 0;
    if (Sys().Ioctl(fd, FIONREAD, &count) != 0)
        Raise(10, errno);
    return count;
}

int WriteAll(int fd, const char* data, int size)
{
    using namespace std::chrono;
    const auto deadline = WriteDeadline(size);
    int done = 0;
    bool hungUp = false;
    while (done < size) {
        const ssize_t n = Sys().Write(fd, data + done, std::size_t(size - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            Raise(2, errno);
        // A hang-up that still leaves the queue full will never drain.
        if (hungUp)
            Raise(2, EIO);
        // The driver's queue is full: wait for room, within the time limit.
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        pollfd p{fd, POLLOUT, 0};
        const int ready = left > 0 ? ::poll(&p, 1, int(std::min<std::int64_t>(left + 1, INT_MAX))) : 0;
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            Raise(2, errno);
        }
        if (ready == 0) {
            FlushOutput(fd);
            Raise(2, ETIMEDOUT);
        }
        if (p.revents & POLLNVAL)
            Raise(2, EBADF);
        hungUp = (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLOUT);
    }
    return done;
}

int ReadSome(int fd, char* data, int size)
{
    for (;;) {
        const ssize_t n = Sys().Read(fd, data, std::size_t(size));
        if (n >= 0)
            return int(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        Raise(3, errno);
    }
}

int CreateWakeup()
{
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        Raise(1, errno);
    return fd;
}

void SignalWakeup(int wakeFd)
{
    const std::uint64_t one = 1;
    // Only fails when the counter is full, and then it is signalled already.
    while (::write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void CloseWakeup(int wakeFd)
{
    ::close(wakeFd);
}

TWaitResult WaitForEvent(int fd, int wakeFd, bool watchInput, int timeoutMs)
{
    pollfd p[2] = {{fd, short(watchInput ? POLLIN : 0), 0}, {wakeFd, POLLIN, 0}};
    TWaitResult w;
    for (;;) {
        const int ready = ::poll(p, 2, timeoutMs);
        if (ready >= 0)
            break;
        if (errno != EINTR) {
            w.hangup = true;
            w.error = errno;
            return w;
        }
    }
    w.stop = p[1].revents != 0;
    w.hangup = (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (p[0].revents & POLLNVAL)
        w.error = EBADF;
    return w;
}

} // namespace ComPortPosix
