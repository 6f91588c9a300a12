#include "link/FrameCodec.h"

#include <algorithm>

namespace {

void AppendByte(TByteString& s, std::uint8_t b)
{
    s.append(static_cast<char>(b));
}

// 0xAA and 0x99 travel as the escape byte followed by the value minus 0x80.
void AppendEscaped(TByteString& out, std::uint8_t b)
{
    if (b == Frame::StartByte || b == Frame::EscapeByte) {
        AppendByte(out, Frame::EscapeByte);
        AppendByte(out, static_cast<std::uint8_t>(b - Frame::EscapeOffset));
    } else {
        AppendByte(out, b);
    }
}

// Word stored low byte first at offset i.
std::uint16_t WordAt(const TByteString& s, qsizetype i)
{
    return static_cast<std::uint16_t>(ByteAt(s, i) | (ByteAt(s, i + 1) << 8));
}

} // namespace

std::uint16_t CheckWord(const TByteString& bytes, qsizetype from, qsizetype to)
{
    std::uint16_t sum = 0;
    for (qsizetype i = from; i < to; ++i)
        sum = static_cast<std::uint16_t>(sum + ByteAt(bytes, i));
    return static_cast<std::uint16_t>(0x10000 - sum);
}

TCanonicalFrame BuildFrame(const TByteString& body)
{
    if (body.size() < 2)
        throw EFrameError("Request body too short: no length byte");
    const qsizetype covered = ByteAt(body, FrameOffset::Length) + 3;
    if (body.size() < covered)
        throw EFrameError("Request body shorter than its length byte says");
    TCanonicalFrame frame = body.left(covered);
    const std::uint16_t check = CheckWord(frame, 0, covered);
    AppendByte(frame, static_cast<std::uint8_t>(check & 0xFF));
    AppendByte(frame, static_cast<std::uint8_t>(check >> 8));
    return frame;
}

bool CheckFrame(const TByteString& buffer)
{
    if (buffer.size() < 2)
        return false;
    const int n = ByteAt(buffer, FrameOffset::Length);
    if (n > Frame::MaxNineBitLength)
        return false;
    if (buffer.size() < n + 5)
        return false;
    return WordAt(buffer, n + 3) == CheckWord(buffer, 0, n + 3);
}

TByteString EncodeFramed8(const TCanonicalFrame& frame)
{
    const int n = ByteAt(frame, FrameOffset::Length);
    // Command before length, length twice: the line order differs from the frame's.
    TByteString plain;
    plain.reserve(n + 6);
    AppendByte(plain, ByteAt(frame, FrameOffset::Address));
    AppendByte(plain, ByteAt(frame, FrameOffset::Command));
    AppendByte(plain, static_cast<std::uint8_t>(n));
    AppendByte(plain, static_cast<std::uint8_t>(n));
    plain.append(frame.mid(FrameOffset::Payload, n));
    const std::uint16_t check = CheckWord(plain, 0, plain.size());
    AppendByte(plain, static_cast<std::uint8_t>(check & 0xFF));
    AppendByte(plain, static_cast<std::uint8_t>(check >> 8));

    TByteString line;
    line.reserve(2 * plain.size() + 1);
    AppendByte(line, Frame::StartByte);
    for (char c : plain)
        AppendEscaped(line, static_cast<std::uint8_t>(c));
    return line;
}

TNineBitLineForm EncodeNineBit(const TCanonicalFrame& frame)
{
    return {frame.left(1), frame.mid(1)};
}

std::optional<TJudgedReply> TFramed8Receiver::Feed(QByteArrayView chunk, qsizetype* used)
{
    for (qsizetype i = 0; i < chunk.size(); ++i) {
        const char c = chunk[i];
        const auto b = static_cast<std::uint8_t>(c);
        if (b == Frame::EscapeByte) {
            FEscapePending = true;
            continue;
        }
        if (FEscapePending) {
            FBuffer.append(static_cast<char>(b - Frame::EscapeOffset));
            FEscapePending = false;
        } else {
            // An unescaped start byte only ever begins a frame: whatever came
            // before it is noise or the tail of an earlier reply.
            if (b == Frame::StartByte)
                FBuffer.clear();
            FBuffer.append(c);
        }
        if (FBuffer.size() < 7)
            continue;
        const int n = ByteAt(FBuffer, 3);
        if (FBuffer.size() < n + 7)
            continue;

        // B[1] .. B[4+N] plus the word B[5+N], B[6+N] must sum to 0.
        const std::uint16_t expected = CheckWord(FBuffer, 1, n + 5);
        const std::uint16_t received = WordAt(FBuffer, n + 5);
        const bool good = received == expected;
        std::optional<TJudgedReply> judged;
        if (good) {
            TByteString body;
            body.reserve(n + 3);
            AppendByte(body, ByteAt(FBuffer, 1));
            AppendByte(body, static_cast<std::uint8_t>(n));
            AppendByte(body, ByteAt(FBuffer, 2));
            body.append(FBuffer.mid(5, n));
            judged = TGoodReply{BuildFrame(body)};
        } else {
            judged = TBadReply{received, expected};
        }
        // Bytes after the frame in this chunk go with it.
        FBuffer.clear();
        if (used)
            *used = i + 1;
        return judged;
    }
    return std::nullopt;
}

std::optional<TJudgedReply> TNineBitReceiver::Feed(QByteArrayView chunk, qsizetype* used)
{
    if (used) {
        // only the bytes up to the frame's end, once its length byte is known
        const qsizetype lengthAt = FrameOffset::Length - FBuffer.size();
        if (lengthAt < chunk.size()) {
            const int n = lengthAt < 0 ? ByteAt(FBuffer, FrameOffset::Length) : static_cast<std::uint8_t>(chunk[lengthAt]);
            chunk = chunk.first(std::min(chunk.size(), n + 5 - FBuffer.size()));
        }
        *used = chunk.size();
    }
    FBuffer.append(chunk);
    // N + 5 bytes make a reply, the shortest (N = 0) five: an acknowledgement
    // without payload must complete as it does in the 8-bit form.
    if (FBuffer.size() < 5)
        return std::nullopt;
    const int n = ByteAt(FBuffer, FrameOffset::Length);
    if (FBuffer.size() < n + 5)
        return std::nullopt;
    std::optional<TJudgedReply> judged;
    if (CheckFrame(FBuffer))
        judged = TGoodReply{FBuffer};
    else
        judged = TBadReply{WordAt(FBuffer, n + 3), CheckWord(FBuffer, 0, n + 3)};
    FBuffer.clear();
    return judged;
}
