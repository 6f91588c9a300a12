#pragma once
// The module's end of one line: assembles the tool's requests from the bytes
// received, lets the bus answer them and turns the replies into timed line
// output, with the faults applied. Fed bytes and time, it gives bytes and the
// time they are due, so every timing is reproducible.

#include "link/FrameCodec.h"
#include "tools/module-sim/SimBus.h"
#include "tools/module-sim/SimFaults.h"
#include "tools/module-sim/WireLog.h"

#include <deque>
#include <vector>

struct TSimOutput {
    qint64 dueMs = 0;
    TByteString bytes;
    bool dropConnection = false; // instead of bytes: end the connection
};

class TSimLink {
public:
    // An incomplete request is given up after the line has been quiet this long.
    static constexpr qint64 InterByteTimeoutMs = 100;
    // The address byte and the rest of a 9-bit reply are this far apart.
    static constexpr qint64 NineBitAddressPauseMs = 2;

    TSimLink(TSimBus& bus, ELineMode mode);

    ELineMode Mode() const { return FMode; }
    TSimFaults& Faults() { return FFaults; }

    void Receive(const TByteString& chunk, qint64 nowMs);
    // Output due at nowMs or earlier, in order; logs what goes out.
    std::vector<TSimOutput> TakeDue(qint64 nowMs);
    std::optional<qint64> NextDueMs() const;
    // The connection went away: half-assembled requests and pending output with it.
    void ResetLine();

    void Note(const QString& text, qint64 nowMs);
    std::vector<TWireLogEntry> TakeLog();

private:
    struct TPending {
        TSimOutput output;
        QString meaning; // logged when it goes out
    };

    std::optional<TJudgedReply> FeedReceiver(char byte);
    void ClearReceiver();
    void HandleRequest(const TCanonicalFrame& request, qint64 nowMs);
    void ScheduleReply(const TCanonicalFrame& reply, qint64 nowMs);
    std::vector<TByteString> LineChunks(const TCanonicalFrame& reply, QStringList& faultNotes);
    void Schedule(TPending pending);

    TSimBus& FBus;
    ELineMode FMode;
    TSimFaults FFaults;
    TFramed8Receiver FFramed8;
    TByteString FNineBitRequest;
    TByteString FRawRequest; // line bytes of the request being assembled
    qint64 FLastRxMs = 0;
    std::deque<TPending> FPending; // by due time
    std::vector<TWireLogEntry> FLog;
};
