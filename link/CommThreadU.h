#pragma once
// TCommThread: the program's one link to the reader module. Its worker paces
// the requests (one outstanding at a time, a poll when the queue is empty),
// the transports deliver the replies, and everything is reported by the eight
// events, which always run on the main thread.

#include "base/CommTypesU.h"
#include "link/FrameCodec.h"
#include "link/LinkTimingU.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class TComPort;
class TClientSocket;

// Why the link or a request failed: the whole sentence, and for the failures
// a technician meets most, what kind and about what, so that a front end can
// word it shorter or in its own language.
struct TLinkFailure {
    enum class TKind {
        Other,          // only the sentence says it
        NotPresent,     // subject: the device path
        InUse,          // subject: the device path
        NoPermission,   // subject: the device path
        Refused,        // subject: "host:port"
        ClosedByServer, // no subject
        HostNotFound,   // subject: the host's name
    };
    TKind kind = TKind::Other;
    QString subject;
    QString sentence; // empty: nothing failed
};

class TCommThread : public QObject {
    Q_OBJECT
public:
    // Monotonic time since an arbitrary zero; tests pass a clock of their own.
    using TClock = std::function<std::chrono::nanoseconds()>;
    // Waits the given span (the 9-bit address pause); a test's own advances its clock.
    using TSleep = std::function<void(std::chrono::nanoseconds)>;
    // What the link saw on the line, for a trace of its traffic.
    struct TTraceEntry {
        enum class TKind {
            Sent,      // line: the line form as written; frame: the request
            Received,  // line: bytes as they were read, before they are judged
            Reply,     // frame: a good reply
            LateReply, // frame: a good reply to an earlier request, dropped
            BadCheck,  // a reply that failed its check
            Timeout,   // frame: the request that got no reply
        };
        TKind kind;
        TByteString line;
        TCanonicalFrame frame;
    };
    // Called at once on the thread that saw it (worker, the port's event
    // thread or the main thread), so it must be thread-safe and must not call
    // the link. Replies, checks and time-outs are reported under the link's
    // lock, in the order the link saw them.
    using TTrace = std::function<void(const TTraceEntry&)>;
    struct TOptions {
        TClock clock;              // empty: steady_clock
        bool manualCycles = false; // no worker thread: the caller runs RunCycle
        TSleep sleep;              // empty: std::this_thread::sleep_for
        TTrace trace;              // empty: none
        TLinkTiming timing;        // the send interval and the reply time-out
    };

    explicit TCommThread(QObject* parent = nullptr);
    TCommThread(const TOptions& options, QObject* parent = nullptr);
    ~TCommThread() override;

    // Where the request behind an OnCommandDone or OnCommandTimeout came from:
    // the batch number AddCommands gave (0: queued by AddCommand), and whether
    // it was that batch's last request.
    struct TBatchMark {
        std::uint64_t batch = 0;
        bool last = false;
    };

    // Open and Close never raise; errors become OnCommError.
    void Open();
    void Close();
    bool IsActive() const;
    // Open has started a connection that is not made yet (a name lookup or a
    // TCP connect under way). Close abandons it.
    bool IsOpening() const;
    // Why the link or the last queued request last failed (an open or close
    // that failed, a socket error, a lost line, the device server closing the
    // connection, no reply, a reply with a bad check word), for the user;
    // empty since Open or Close when nothing failed. Set on the main thread
    // just before OnCommError, OnClose or OnCommandTimeout runs.
    QString LastError() const;
    // The same failure with its kind and subject.
    const TLinkFailure& LastFailure() const;
    // Queues a request body framed by BuildFrame (00 00 00 unframed). Pumps
    // pending events while the worker holds the queue. A body shorter than its
    // length byte raises EFrameError and queues nothing.
    void AddCommand(const TByteString& body);
    // Queues the bodies as one batch, in one hold of the queue and without
    // pumping events, only while the link is open: its number (from 1), or 0
    // when the link is not open and nothing was queued. A batch belongs to the
    // session it was queued in: what of it is still queued when the link
    // closes or fails never goes out. A body shorter than its length byte
    // raises EFrameError and queues nothing of the batch.
    std::uint64_t AddCommands(const QList<TByteString>& bodies);
    // Takes what of the batch is still queued out of the queue: those requests
    // never go out and raise nothing; one already sent still ends as usual.
    // Returns how many were taken out.
    int CancelBatch(std::uint64_t batch);
    // The mark of the request behind the OnCommandDone or OnCommandTimeout
    // that runs (set on the main thread just before it).
    TBatchMark CommandBatch() const;
    // The next send slot carries the address-assignment request for a.
    void AssignHWAddress(std::uint8_t address);

    // The pace it sends at; changed only while the link is closed (raises
    // std::runtime_error as the transport setters do).
    void SetTiming(const TLinkTiming& timing);
    const TLinkTiming& Timing() const;

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
