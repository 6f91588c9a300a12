#pragma once
// Inside of TComPort: the operating-system side (ComPortPosix.cpp) as ComPort.cpp
// and the tests see it. Not for the rest of the program; ComPort.h stays free
// of system headers, this one is not.

#include "ports/ComPort.h"

#include <termios.h>

#include <cstddef>
#include <optional>
#include <sys/types.h>

namespace ComPortPosix {

// The settings that make up the line, as far as the port exposes them. RTS is never asserted and there is no handshake:
// the port has no setter for them.
struct TLineSettings {
    TBaudRate BaudRate = TBaudRate::br9600;
    int CustomBaudRate = 9600;
    TDataBits DataBits = TDataBits::dbEight;
    TStopBits StopBits = TStopBits::sbOneStopBit;
    TParityBits Parity = TParityBits::prNone;
    TDTRFlowControl ControlDTR = TDTRFlowControl::dtrDisable;
    bool operator==(const TLineSettings&) const = default;
};

// Pure: the termios record for the settings, built on base (what tcgetattr
// gave, so fields the port does not own keep their values). Raw 8-bit line,
// receiver on, modem control lines ignored, no flow control, receive parity
// ignored, reads return at once. Empty when termios has no speed constant for
// the rate (14400, 56000, 128000, 256000, odd custom rates).
std::optional<termios> ToTermios(const TLineSettings& settings, const termios& base);

// The few system calls of the port, so that a test can record or fail them.
// Poll and the event thread's wake-up descriptor are not in here. Tcsetattr
// takes TCSANOW, TCSADRAIN or TCSAFLUSH; the real one goes to the kernel
// without glibc's read-back (see ComPortPosix.cpp).
class ISystemCalls {
public:
    virtual ~ISystemCalls() = default;
    virtual int Open(const char* path, int flags) = 0;
    virtual int Close(int fd) = 0;
    virtual int Flock(int fd, int operation) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual int Tcgetattr(int fd, termios* t) = 0;
    virtual int Tcsetattr(int fd, int action, const termios* t) = 0;
    virtual int Tcdrain(int fd) = 0;
    virtual int Tcflush(int fd, int queue) = 0;
    virtual ssize_t Write(int fd, const void* data, std::size_t size) = 0;
    virtual ssize_t Read(int fd, void* data, std::size_t size) = 0;
};
// The calls that go straight to the system.
ISystemCalls& RealSystemCalls();
// Replaces the calls for every port from now on (nullptr: the real ones again)
// and returns the previous replacement. For tests; a recorder usually forwards
// to RealSystemCalls().
ISystemCalls* SetSystemCalls(ISystemCalls* calls);

// The operations TComPort rests on. Each raises EComPort with the errno.

// Opens exclusively (TIOCEXCL and flock): number 1.
int OpenDevice(const QString& path);
// Releases the exclusive hold and closes; never raises.
void CloseDevice(int fd);
// Waits until the bytes queued for output have left, for at most their write
// time-out. When the line does not take them in that time (an adapter that
// stopped taking bytes), the output is flushed and number 2 raised with
// ETIMEDOUT; any other failure is number 2 with its errno.
void DrainOutput(int fd);
// Applies the line: termios at once, then (with modemLines) DTR and RTS.
// Number 7. The caller drains first where bytes must leave with the old
// settings. MARK and SPACE are read back: a driver that drops CMSPAR would
// send odd or even parity instead, and the error then names the device. The
// modem lines are left out when they have not changed: on a USB adapter each
// costs a control transfer, and parity changes often.
void ApplyLine(int fd, const TLineSettings& settings, bool modemLines, const QString& device);
// Asks the driver for low latency (FTDI and friends hold received bytes for
// up to 16 ms otherwise). Optional: nothing happens where unsupported.
void RequestLowLatency(int fd);
// Clears both queues. Number 5, except when the device is gone (EIO, ENXIO,
// ENODEV): then nothing is left to clear.
void FlushBoth(int fd);
// Reads the modem input lines. Number 11; a device without modem lines (a pty)
// is fine.
void ReadModemStatus(int fd);
// FIONREAD: number 10.
int PendingInput(int fd);
// Writes everything, waiting while the driver's queue is full, for at most
// the write time-out; returns the count written. Number 2; when the time is
// up the output is flushed and the error is ETIMEDOUT.
int WriteAll(int fd, const char* data, int size);
// Reads what is there, up to size, without waiting. Number 3.
int ReadSome(int fd, char* data, int size);

// The event thread's wake-up descriptor (an eventfd). Create raises 1 (the
// open fails) when none can be had.
int CreateWakeup();
void SignalWakeup(int wakeFd);
void CloseWakeup(int wakeFd);

struct TWaitResult {
    bool stop = false;    // the wake-up descriptor was signalled
    bool hangup = false;  // POLLHUP, POLLERR, POLLNVAL or poll itself failed
    int error = 0;        // errno when known, else 0
};
// Waits for received bytes (only when watchInput), a hang-up or the wake-up;
// timeoutMs -1 waits without a limit. Hang-ups are always reported.
TWaitResult WaitForEvent(int fd, int wakeFd, bool watchInput, int timeoutMs);

} // namespace ComPortPosix
