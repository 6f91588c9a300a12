#pragma once
// Shared types of the reader link.

#include <QByteArray>
#include <QMetaType>
#include <cstdint>

// A sequence of 8-bit values (never text). QByteArray is implicitly shared, so
// copies handed to the main thread with an event cost no allocation.
using TByteString = QByteArray;

// Canonical frame: address, N, command, N payload bytes, check word low, high.
// Requests are built as bodies (the first N + 3 bytes) and framed by BuildFrame.
using TCanonicalFrame = TByteString;

// Offsets into a canonical frame.
namespace FrameOffset {
constexpr int Address = 0;
constexpr int Length = 1;
constexpr int Command = 2;
constexpr int Payload = 3;
}

// Unsigned byte at position i; the caller has checked the size.
inline std::uint8_t ByteAt(const TByteString& s, qsizetype i)
{
    return static_cast<std::uint8_t>(s[i]);
}

inline TByteString BytesOf(std::initializer_list<std::uint8_t> bytes)
{
    TByteString s;
    s.reserve(static_cast<qsizetype>(bytes.size()));
    for (std::uint8_t b : bytes)
        s.append(static_cast<char>(b));
    return s;
}
