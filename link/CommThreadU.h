#pragma once
// TCommThread: the program's one link to the reader module. Its worker paces
// the requests (one outstanding at a time, a poll when the queue is empty),
// the transports deliver the replies, and everything is reported by the eight
// events, which always run on the main thread.

#include "base/CommTypesU.h"
#include "link/FrameCodec.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class TComPort;
class TClientSocket;

class TCommThread : public QObject {
    Q_OBJECT
public:
    // Monotonic time since an arbitrary zero; tests pass a clock of their own.
    using TClock = std::function<std::chrono::nanoseconds()>;
    // Waits the given span (the 9-bit address pause); a test's own advances its clock.
    using TSleep = std::function<void(std::chrono::nanoseconds)>;
    struct TOptions {
        TClock clock;              // empty: steady_clock
        bool manualCycles = false; // no worker thread: the caller runs RunCycle
        TSleep sleep;              // empty: std::this_thread::sleep_for
    };

    explicit TCommThread(QObject* parent = nullptr);
    TCommThread(const TOptions& options, QObject* parent = nullptr);
    ~TCommThread() override;

    // Open and Close never raise; errors become OnCommError.
    void Open();
    void Close();
    bool IsActive() const;
    // Open has started a connection that is not made yet (a name lookup or a
    // TCP connect under way). Close abandons it.
    bool IsOpening() const;
    // Why the link last failed (an open or close that failed, a socket error,
    // a lost line, the device server closing the connection), for the user;
    // empty since Open when nothing failed. Set on the main thread just before
    // OnCommError or OnClose runs.
    QString LastError() const;
    // Queues a request body framed by BuildFrame (00 00 00 unframed). Pumps
    // pending events while the worker holds the queue. A body shorter than its
    // length byte raises EFrameError and queues nothing.
    void AddCommand(const TByteString& body);
    // The next send slot carries the address-assignment request for a.
    void AssignHWAddress(std::uint8_t address);

    // Transport selection. The three setters raise std::runtime_error "Cannot
    // change communication type while then communication is active." when a
    // change is asked for while active or opening.
    void SetComPort(int number);
    int GetComPort() const;
    void SetLANMode(bool lan); // LAN forces DataBits 8
    bool LANMode() const { return FLANMode.load(); }
    void SetIPAddress(const QString& host);
    QString GetIPAddress() const;
    void SetIPPort(int port);
    int GetIPPort() const;

    // Written directly by the main window. 8: 8-bit framed form, else 9-bit.
    std::atomic<std::uint8_t> DataBits{0};
    std::atomic<std::uint8_t> HWAddress{1};

    // Events, in this order; each runs on the main thread, only when attached.
    std::function<void(TCommThread*)> OnOpen;
    std::function<void(TCommThread*)> OnClose;
    std::function<void(TCommThread*)> OnCommError;
    std::function<void(TCommThread*)> OnChecksumError;
    std::function<void(TCommThread*)> OnTimeout;
    std::function<void(TCommThread*, const TCanonicalFrame& reply)> OnReply;
    std::function<void(TCommThread*)> OnCommandDone;
    std::function<void(TCommThread*)> OnCommandTimeout;

    // One cycle of the worker: send slot, time-out, assignment follow-up.
    void RunCycle();

    // For tests and the simulator tools: the transports in use.
    TComPort& ComPort();
    TClientSocket& ClientSocket();

protected:
    // The command queue's lock as AddCommand takes it (without pumping events).
    void HoldQueueLock();
    void ReleaseQueueLock();

private:
    struct TImpl;
    std::unique_ptr<TImpl> d;
    std::atomic<bool> FLANMode{true};
};
