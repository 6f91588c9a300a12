#pragma once
// The module's replies as the program reads them: the payload of a reply
// frame, and the status reply's card, code and state flags.

#include "base/CommTypesU.h"

#include <cstdint>
#include <optional>

namespace ModuleReplies {
constexpr std::uint8_t FirmwareCode = 0xFF;
constexpr std::uint8_t RegisterCode = 0xB7;
constexpr std::uint8_t StatusCode = 0xB5;

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
