#pragma once
// What the window says about the link and the configuration write: the
// batch's progress and the state behind the status text. The progress bar and
// the status text only display it, so the window never reads its state back
// from a widget or compares translated texts.

class TTransferState {
public:
    enum class TStatus {
        None,         // nothing to say (stopped, just opened, after a link error)
        Connected,    // the module answers
        TimedOut,     // the module stopped answering
        Transferring, // a Write batch is under way
        Succeeded,    // its last reply arrived
        Failed,       // one of its requests got no good reply
    };

    // A batch of `requests` requests was queued: the bar counts the replies
    // before the last one, whose arrival reports success.
    void BatchQueued(int requests);
    void CommandDone();
    void CommandFailed();
    void ReplyArrived();
    void LinkTimedOut();
    // Start, Stop, an open or an error: the status text is emptied, the bar kept.
    void Cleared();

    TStatus Status() const { return FStatus; }
    int Position() const { return FPosition; }
    int Maximum() const { return FMaximum; }

private:
    void EndBatch(TStatus status);

    TStatus FStatus = TStatus::None;
    int FPosition = 0;
    int FMaximum = 0;
};
