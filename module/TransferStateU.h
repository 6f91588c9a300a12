#pragma once
// What the window says about the link and the configuration write: the
// batch's progress and the state behind the status text. The progress bar and
// the status text only display it, so the window never reads its state back
// from a widget or compares translated texts.

#include <QString>

#include <cstdint>

class TTransferState {
public:
    enum class TStatus {
        None,         // nothing to say (stopped, just opened, after a link error)
        Connected,    // the module answers
        TimedOut,     // the module stopped answering
        Transferring, // a Write batch is under way
        Succeeded,    // its last reply arrived
        Failed,       // one of its requests got no good reply
        LinkFailed,   // the link could not be opened or was lost: Reason() says why
    };

    // Batch number `batch` of `requests` requests was queued. The bar counts
    // the replies before the last one, whose arrival reports success; a batch
    // queued while another runs extends the bar, and success waits for the
    // last batch's last reply.
    void BatchQueued(std::uint64_t batch, int requests);
    // A queued request was answered: the batch it belonged to (0: none) and
    // whether it was that batch's last request.
    void CommandDone(std::uint64_t batch, bool lastOfBatch);
    void CommandFailed();
    void ReplyArrived();
    void LinkTimedOut();
    // The link closed or failed: the rest of a batch under way never goes out.
    void LinkEnded();
    // The link could not be opened or was lost, for this reason: a Write it
    // cut off fails, else the reason is on show until the next Start.
    void LinkFailed(const QString& reason);
    // Start, Stop or an open: the status text is emptied, the bar kept.
    void Cleared();

    TStatus Status() const { return FStatus; }
    const QString& Reason() const { return FReason; }
    int Position() const;
    int Maximum() const;

private:
    bool BatchRunning() const { return FRequests > 0; }
    void EndBatch(TStatus status);

    TStatus FStatus = TStatus::None;
    QString FReason;
    int FRequests = 0; // of the batches under way
    int FAnswered = 0;
    std::uint64_t FFirstBatch = 0; // the batches under way
    std::uint64_t FLastBatch = 0;
};
