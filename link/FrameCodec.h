#pragma once
// Frame format of the reader link: check word, the two line forms and the two
// receive assemblers. No threads and no I/O: TCommThread only calls this.

#include "base/CommTypesU.h"

#include <stdexcept>
#include <optional>
#include <variant>

// Raised when a request body is shorter than its length byte says.
class EFrameError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace Frame {
constexpr std::uint8_t StartByte = 0xAA;
constexpr std::uint8_t EscapeByte = 0x99;
constexpr std::uint8_t EscapeOffset = 0x80;
constexpr int MaxNineBitLength = 251; // longer 9-bit replies count as a bad check
}

// (65536 - sum of the bytes) mod 65536, so bytes + check word sum to 0.
std::uint16_t CheckWord(const TByteString& bytes, qsizetype from, qsizetype to);

// Body (address, N, command, payload ...) to canonical frame. Bytes beyond N + 3
// are dropped; a body shorter than N + 3 (or than 2) raises EFrameError.
TCanonicalFrame BuildFrame(const TByteString& body);

// 9-bit reply buffer check: false when N > 251, else the stored word matches.
// The buffer must hold at least N + 5 bytes.
bool CheckFrame(const TByteString& buffer);

// 8-bit framed line form of a canonical frame: AA, address, command, N, N,
// payload, fresh check word, everything after the start byte escaped.
TByteString EncodeFramed8(const TCanonicalFrame& frame);

// 9-bit line form: the address byte goes out with MARK parity, the rest with SPACE.
struct TNineBitLineForm {
    TByteString markPart;  // the address byte
    TByteString spacePart; // N, command, payload, check word
};
TNineBitLineForm EncodeNineBit(const TCanonicalFrame& frame);

// One judged reply: a good canonical reply, or a check failure.
struct TGoodReply {
    TCanonicalFrame frame;
};
// The check word as it came, and the one the bytes before it call for.
struct TBadReply {
    std::uint16_t received = 0;
    std::uint16_t expected = 0;
};
using TJudgedReply = std::variant<TGoodReply, TBadReply>;

// Receive assembler of the 8-bit framed form. Bytes are unescaped into the
// buffer; after each chunk a complete frame is judged and the buffer cleared.
// An unescaped start byte restarts the buffer, so a stray byte before a reply
// does not spoil it.
class TFramed8Receiver {
public:
    // Feeds one chunk; returns the reply judged in it, if any. A frame is judged
    // as soon as it is complete; the rest of that chunk is discarded with it.
    // used, when given, gets the number of chunk bytes up to the frame's end,
    // so that the caller can feed the rest without copying it.
    std::optional<TJudgedReply> Feed(QByteArrayView chunk, qsizetype* used = nullptr);
    // A request was sent: the escape state starts afresh.
    void ClearEscape() { FEscapePending = false; }
    void Clear() { FBuffer.clear(); }
    const TByteString& Buffer() const { return FBuffer; }
    bool EscapePending() const { return FEscapePending; }

private:
    TByteString FBuffer;
    bool FEscapePending = false;
};

// Receive assembler of the 9-bit form: bytes are buffered unchanged and judged
// once N + 5 are there. A good reply is the whole buffer.
class TNineBitReceiver {
public:
    // used, when given, gets the number of chunk bytes up to the frame's end,
    // and only those are buffered: the caller then owns the rest.
    std::optional<TJudgedReply> Feed(QByteArrayView chunk, qsizetype* used = nullptr);
    void Clear() { FBuffer.clear(); }
    const TByteString& Buffer() const { return FBuffer; }

private:
    TByteString FBuffer;
};
