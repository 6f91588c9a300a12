#pragma once
// Serial port of the reader link. The termios code lives in ComPortPosix.cpp;
// this header stays free of system headers.

#include "base/CommTypesU.h"

#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>

// Port errors: ErrorNumber selects the message text, SystemError is the errno
// value or -1 when none applies.
class EComPort : public std::runtime_error {
public:
    EComPort(int errorNumber, int systemError);
    // With what went wrong in words, between the message text and the suffix.
    EComPort(int errorNumber, int systemError, const QString& detail);
    int ErrorNumber() const { return FErrorNumber; }
    int SystemError() const { return FSystemError; }
    // What went wrong in words, naming the device; empty when the message
    // text and the errno say it all.
    const QString& Detail() const { return FDetail; }
    // The device went away under the call (adapter unplugged, pty hung up),
    // whichever call it was: a lost line, not a refusal.
    bool DeviceGone() const { return IsDeviceGone(FSystemError); }
    static bool IsDeviceGone(int errnoValue);
    static QString MessageText(int errorNumber);

private:
    int FErrorNumber;
    int FSystemError;
    QString FDetail;
};

enum class TBaudRate { brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
                       br19200, br38400, br56000, br57600, br115200, br128000, br256000 };
enum class TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum class TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum class TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum class TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum class TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum class TSyncMethod { smThreadSync, smWindowSync, smNone };

class TComPort {
public:
    TComPort();
    ~TComPort(); // closes first
    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    // Opens the device that Port names and applies every setting; raises
    // EComPort (1 when the device cannot be opened or is held by another
    // program). Does nothing when open. Fires OnAfterOpen at the end.
    void Open();
    // Stops the event thread and closes; fires OnAfterClose. Nothing when closed.
    void Close();
    bool Connected() const;

    // Blocks until the bytes are written, at most 1000 ms + 100 ms per byte;
    // returns the count (0 for empty data without a system call). Raises
    // EComPort 2, with ETIMEDOUT (output flushed) when the time is up.
    int WriteBytes(const TByteString& data);
    // Reads what is there, up to count, without waiting. Raises EComPort 3.
    int ReadBytes(TByteString& data, int count);
    // Bytes waiting in the driver's input queue (FIONREAD). Raises EComPort 10.
    int PendingInputCount() const;

    // Setters compare first; a changed line setting is applied to an open port
    // before the setter returns (EComPort 7). A change drains the output first,
    // within the write time-out of the bytes still queued (else EComPort 2
    // with ETIMEDOUT, output flushed; a drain that fails is EComPort 2 too). A
    // driver that cannot do MARK or SPACE parity is refused with EComPort 7
    // naming the device. On an open port a setting is recorded (and read back
    // by the getter) only once the driver has taken it: after a failure the
    // same value is tried again.
    QString Port() const;
    void SetPort(const QString& name); // exact comparison; reopens when open
    TBaudRate BaudRate() const;
    void SetBaudRate(TBaudRate rate);
    TDataBits DataBits() const;
    void SetDataBits(TDataBits bits);
    TStopBits StopBits() const;
    void SetStopBits(TStopBits bits);
    TParityBits Parity() const;
    void SetParity(TParityBits bits);
    TDTRFlowControl ControlDTR() const;
    void SetControlDTR(TDTRFlowControl dtr);
    TSyncMethod SyncMethod() const;
    void SetSyncMethod(TSyncMethod method); // EComPort 14 while open

    // Events (raised only when attached). With smNone OnRxChar runs on the
    // port's event thread; count is always > 0.
    std::function<void(TComPort*, int count)> OnRxChar;
    std::function<void(TComPort*)> OnAfterOpen;
    std::function<void(TComPort*)> OnAfterClose;
    // The device went away (adapter unplugged, far end of a pty closed): raised
    // once on the event thread, which then ends. The port stays "connected"
    // until Close is called; errnoValue is the cause or 0 for a hang-up.
    std::function<void(TComPort*, int errnoValue)> OnLineLost;

private:
    struct TImpl;
    std::unique_ptr<TImpl> d;
};
