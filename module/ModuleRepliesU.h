#pragma once
// The module's replies as the program reads them: the payload of a reply
// frame, and the status reply's card, code and state flags.

#include "base/CommTypesU.h"
#include "module/ModuleRequestsU.h"

#include <cstdint>
#include <optional>

namespace ModuleReplies {
// A reply carries its request's code plus 0x64; the firmware reply keeps its own.
constexpr std::uint8_t ReplyOffset = 0x64;
constexpr std::uint8_t ReplyCode(std::uint8_t requestCode)
{
    return requestCode == ModuleRequests::Code::Firmware ? requestCode
                                                         : std::uint8_t(requestCode + ReplyOffset);
}
constexpr std::uint8_t FirmwareCode = ReplyCode(ModuleRequests::Code::Firmware);
constexpr std::uint8_t RegisterCode = ReplyCode(ModuleRequests::Code::RegisterRead);
constexpr std::uint8_t StatusCode = ReplyCode(ModuleRequests::Code::Status);

// Bits of the status reply's state flags.
namespace Flag {
constexpr std::uint8_t Relay = 0x01;
constexpr std::uint8_t Input2 = 0x02;
constexpr std::uint8_t Input1 = 0x04;
constexpr std::uint8_t Tamper = 0x08;
constexpr std::uint8_t DoorAjar = 0x10;
constexpr std::uint8_t ForcedDoor = 0x20;
constexpr std::uint8_t CardRead = 0x80; // a card or code since the previous status reply
}

// True when a good reply plainly answers a request other than the outstanding
// one (empty: none outstanding): a status, register or firmware reply that no
// such request asked for, or a register reply for another register. A module
// that answers after the time-out would otherwise have its reply taken for
// the answer to the next request. Replies of other codes are never judged so.
bool AnswersAnotherRequest(const TCanonicalFrame& reply, const TCanonicalFrame& outstanding);

// The payload as far as the frame holds it: a short reply yields fewer bytes,
// never bytes of its check word or beyond its end.
TByteString PayloadOf(const TCanonicalFrame& reply);

struct TModuleStatus {
    TByteString card; // 8 bytes, most significant first
    std::uint8_t flags = 0;
    std::optional<std::uint8_t> code; // a reply may stop before it
    bool Has(std::uint8_t flag) const { return (flags & flag) != 0; }
};
// The status payload: byte 0 unused, 1..8 the card, 9 the flags, 10 the code.
// Empty when the payload stops before the flags.
std::optional<TModuleStatus> DecodeStatus(const TByteString& payload);
}
