#pragma once
// Helpers shared by the fuzz targets: chunking of the input and a literal
// model of the 8-bit receiver without start-byte resynchronisation.

#include "link/FrameCodec.h"

#include <QList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Splits data into chunks whose sizes come from the first byte's bits.
inline QList<TByteString> Chunks(const std::uint8_t* data, std::size_t size)
{
    QList<TByteString> chunks;
    if (size == 0)
        return chunks;
    unsigned seed = data[0];
    std::size_t pos = 1;
    while (pos < size) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t len = 1 + (seed >> 16) % 23;
        const std::size_t take = len < size - pos ? len : size - pos;
        chunks.append(TByteString(reinterpret_cast<const char*>(data + pos), static_cast<qsizetype>(take)));
        pos += take;
    }
    return chunks;
}

// Judges one chunk the plain way: unescape everything into the buffer, judge
// once at the end of the chunk, never look at the first byte.
class TPlainFramed8Receiver {
public:
    std::optional<TJudgedReply> Feed(const TByteString& chunk)
    {
        for (char c : chunk) {
            const auto b = static_cast<std::uint8_t>(c);
            if (b == Frame::EscapeByte) {
                FEscape = true;
                continue;
            }
            FBuffer.append(static_cast<char>(FEscape ? b - Frame::EscapeOffset : b));
            FEscape = false;
        }
        if (FBuffer.size() < 7)
            return std::nullopt;
        const int n = ByteAt(FBuffer, 3);
        if (FBuffer.size() < n + 7)
            return std::nullopt;
        unsigned sum = 0;
        for (int i = 1; i <= 4 + n; ++i)
            sum += ByteAt(FBuffer, i);
        sum += ByteAt(FBuffer, 5 + n) + 256u * ByteAt(FBuffer, 6 + n);
        std::optional<TJudgedReply> judged;
        if ((sum & 0xFFFF) == 0) {
            TByteString body;
            body.append(FBuffer[1]);
            body.append(static_cast<char>(n));
            body.append(FBuffer[2]);
            body.append(FBuffer.mid(5, n));
            judged = TGoodReply{BuildFrame(body)};
        } else {
            judged = TBadReply{};
        }
        FBuffer.clear();
        return judged;
    }

private:
    TByteString FBuffer;
    bool FEscape = false;
};

inline bool SameJudgement(const std::optional<TJudgedReply>& a, const std::optional<TJudgedReply>& b)
{
    if (a.has_value() != b.has_value())
        return false;
    if (!a)
        return true;
    const auto* ga = std::get_if<TGoodReply>(&*a);
    const auto* gb = std::get_if<TGoodReply>(&*b);
    if ((ga == nullptr) != (gb == nullptr))
        return false;
    return ga == nullptr || ga->frame == gb->frame;
}

#define FUZZ_CHECK(cond) \
    do { \
        if (!(cond)) \
            std::abort(); \
    } while (0)
