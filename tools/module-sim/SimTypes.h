#pragma once
// Value types of the virtual reader module.

#include <array>
#include <cstdint>

// Card number, most significant byte first (as the status reply carries it).
using TCardNumber = std::array<std::uint8_t, 8>;

// Serial number as registers 6..9 hold it, register 6 first.
using TSerialNumber = std::array<std::uint8_t, 4>;

// The four least significant card bytes, least significant first, as the
// set-by-card request carries them.
using TServiceCardKey = std::array<std::uint8_t, 4>;

struct TFirmwareVersion {
    std::uint8_t major = 2;
    std::uint8_t minor = 5;
};

enum class ELineMode {
    Framed8, // start byte, escaping; also the TCP form
    NineBit, // canonical frames, the address byte marked by the parity bit
};

namespace SimLimits {
constexpr int MinAddress = 1;
constexpr int MaxAddress = 16;
}
