#include "tools/module-sim/SimLink.h"

#include "module/FrameDescriptionU.h"

#include <algorithm>
#include <utility>

namespace {
// Noise that never forms a frame is logged in pieces of at most this size.
constexpr qsizetype MaxRawRequest = 512;
}

TSimLink::TSimLink(TSimBus& bus, ELineMode mode)
    : FBus(bus)
    , FMode(mode)
{
}

void TSimLink::Receive(const TByteString& chunk, qint64 nowMs)
{
    if (!FRawRequest.isEmpty() && nowMs - FLastRxMs > InterByteTimeoutMs) {
        FLog.push_back({nowMs, ELogKind::Rx, FRawRequest, QStringLiteral("incomplete request given up after a quiet line")});
        ClearReceiver();
    }
    FLastRxMs = nowMs;
    for (char byte : chunk) {
        FRawRequest.append(byte);
        const std::optional<TJudgedReply> judged = FeedReceiver(byte);
        if (!judged) {
            if (FRawRequest.size() >= MaxRawRequest) {
                FLog.push_back({nowMs, ELogKind::Rx, FRawRequest, QStringLiteral("noise")});
                FRawRequest.clear();
            }
            continue;
        }
        const TByteString raw = std::exchange(FRawRequest, {});
        if (const auto* good = std::get_if<TGoodReply>(&*judged)) {
            FLog.push_back({nowMs, ELogKind::Rx, raw, DescribeRequest(good->frame)});
            HandleRequest(good->frame, nowMs);
        } else {
            FLog.push_back({nowMs, ELogKind::Rx, raw, QStringLiteral("bad check word: ignored")});
        }
    }
}

// Fed one byte at a time, the receivers judge each request the moment its last
// byte is in, and a following request is never cut off with the chunk's rest.
std::optional<TJudgedReply> TSimLink::FeedReceiver(char byte)
{
    if (FMode == ELineMode::Framed8)
        return FFramed8.Feed(TByteString(1, byte));
    // A 9-bit request is complete at N + 5 bytes: unlike the tool's receiver,
    // the module does not wait for a sixth byte (a firmware request has five).
    FNineBitRequest.append(byte);
    if (FNineBitRequest.size() < 2 || FNineBitRequest.size() < ByteAt(FNineBitRequest, FrameOffset::Length) + 5)
        return std::nullopt;
    const TByteString frame = std::exchange(FNineBitRequest, {});
    if (CheckFrame(frame))
        return TGoodReply{frame};
    return TBadReply{};
}

void TSimLink::ClearReceiver()
{
    FFramed8.Clear();
    FFramed8.ClearEscape();
    FNineBitRequest.clear();
    FRawRequest.clear();
}

void TSimLink::HandleRequest(const TCanonicalFrame& request, qint64 nowMs)
{
    if (FFaults.dropAfterRequest) {
        FFaults.dropAfterRequest = false;
        Schedule({{nowMs, {}, true}, QStringLiteral("connection dropped (fault)")});
        return;
    }
    TBusOutcome outcome = FBus.Handle(request, nowMs);
    for (const QString& note : outcome.notes)
        Note(note, nowMs);
    if (outcome.reply)
        ScheduleReply(*outcome.reply, nowMs);
}

void TSimLink::ScheduleReply(const TCanonicalFrame& reply, qint64 nowMs)
{
    if (FFaults.noReply.Fires()) {
        Note(QStringLiteral("reply withheld (fault): ") + DescribeReply(reply), nowMs);
        return;
    }
    QStringList faultNotes;
    const std::vector<TByteString> chunks = LineChunks(reply, faultNotes);
    if (FFaults.delayMs > 0)
        faultNotes << QStringLiteral("delayed %1 ms").arg(FFaults.delayMs);
    QString meaning = DescribeReply(reply);
    if (!faultNotes.isEmpty())
        meaning += QStringLiteral(" [") + faultNotes.join(QLatin1String(", ")) + u']';

    const qint64 gap = FFaults.splitGapMs > 0 ? FFaults.splitGapMs
                       : FMode == ELineMode::NineBit ? NineBitAddressPauseMs
                                                     : 0;
    qint64 due = nowMs + FFaults.delayMs;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        Schedule({{due, chunks[i], false}, i == 0 ? meaning : QString()});
        due += gap;
    }
}

std::vector<TByteString> TSimLink::LineChunks(const TCanonicalFrame& reply, QStringList& faultNotes)
{
    std::vector<TByteString> chunks;
    const bool corrupt = FFaults.corruptCheck.Fires();
    if (FMode == ELineMode::Framed8) {
        TByteString line = EncodeFramed8(reply);
        if (corrupt)
            CorruptFramed8CheckWord(line);
        chunks.push_back(line);
    } else {
        TNineBitLineForm form = EncodeNineBit(reply);
        if (corrupt)
            CorruptNineBitCheckWord(form.spacePart);
        chunks.push_back(form.markPart);
        chunks.push_back(form.spacePart);
    }
    if (corrupt)
        faultNotes << QStringLiteral("check word corrupted");
    if (FFaults.strayByte.Fires()) {
        chunks.front().prepend(static_cast<char>(SimFaultLimits::StrayByte));
        faultNotes << QStringLiteral("stray byte first");
    }
    if (FFaults.splitGapMs > 0) {
        std::vector<TByteString> single;
        for (const TByteString& chunk : chunks) {
            for (char byte : chunk)
                single.emplace_back(1, byte);
        }
        chunks = std::move(single);
        faultNotes << QStringLiteral("split, %1 ms gaps").arg(FFaults.splitGapMs);
    }
    return chunks;
}

void TSimLink::Schedule(TPending pending)
{
    const auto after = std::find_if(FPending.begin(), FPending.end(), [&](const TPending& p) {
        return p.output.dueMs > pending.output.dueMs;
    });
    FPending.insert(after, std::move(pending));
}

std::vector<TSimOutput> TSimLink::TakeDue(qint64 nowMs)
{
    std::vector<TSimOutput> due;
    while (!FPending.empty() && FPending.front().output.dueMs <= nowMs) {
        TPending next = std::move(FPending.front());
        FPending.pop_front();
        if (next.output.dropConnection)
            FLog.push_back({nowMs, ELogKind::Note, {}, next.meaning});
        else
            FLog.push_back({nowMs, ELogKind::Tx, next.output.bytes, next.meaning});
        due.push_back(std::move(next.output));
    }
    return due;
}

std::optional<qint64> TSimLink::NextDueMs() const
{
    if (FPending.empty())
        return std::nullopt;
    return FPending.front().output.dueMs;
}

void TSimLink::ResetLine()
{
    ClearReceiver();
    FPending.clear();
}

void TSimLink::Note(const QString& text, qint64 nowMs)
{
    FLog.push_back({nowMs, ELogKind::Note, {}, text});
}

std::vector<TWireLogEntry> TSimLink::TakeLog()
{
    return std::exchange(FLog, {});
}
