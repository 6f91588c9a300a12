#pragma once
// The meaning of a canonical frame in words, for the simulator's wire log and
// vyxctl's trace, so that both read the same: requests as the tool sends them,
// replies as the module sends them. Both take whole canonical frames (at least
// address, N, command and the check word).

#include "base/CommTypesU.h"

#include <QString>

#include <iterator>

namespace FrameText {
QString HexByte(std::uint8_t value);        // "0C"
QString HexBytes(const TByteString& bytes); // "AA 01 51"
// Bytes kept or carried lowest first, as digits most significant first:
// 78 56 34 12 gives "12345678".
template <typename Bytes>
QString HexLowFirst(const Bytes& bytes)
{
    QString text;
    for (auto b = std::rbegin(bytes); b != std::rend(bytes); ++b)
        text += HexByte(static_cast<std::uint8_t>(*b));
    return text;
}
}

QString DescribeRequest(const TCanonicalFrame& frame); // "poll addr 1"
QString DescribeReply(const TCanonicalFrame& frame);   // "status addr 1 flags 0x81 card ... code 0C"

// One line of a wire log: milliseconds since start, "rx", "tx" or "--", the
// bytes as they crossed the line and what they mean:
// "    1184 rx  AA 01 51 02 02 01 02 A7 FF  poll addr 1"
QString WireLogLine(qint64 atMs, const char* direction, const TByteString& bytes, const QString& meaning);
