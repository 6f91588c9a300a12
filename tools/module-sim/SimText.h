#pragma once
// Text forms the simulator reads and prints: hex bytes, card and serial
// numbers, on/off switches. Parsers return nothing for bad text.

#include "base/CommTypesU.h"
#include "module/FrameDescriptionU.h"
#include "tools/module-sim/SimTypes.h"

#include <QString>

#include <optional>

namespace SimText {
// hex as the wire log prints it
using FrameText::HexByte;
using FrameText::HexBytes;
using FrameText::HexLowFirst;

// 1..16 hex digits, left-padded with zeros.
std::optional<TCardNumber> ParseCardNumber(const QString& text);
QString CardText(const TCardNumber& card); // 16 upper-case digits

// Exactly 8 hex digits, register 6 first.
std::optional<TSerialNumber> ParseSerialNumber(const QString& text);
QString SerialText(const TSerialNumber& serial);
// The serial number of the next module, counted as the tool counts AppIDs:
// register 6 is the lowest byte.
TSerialNumber NextSerialNumber(TSerialNumber serial);

// 1..2 hex digits, optionally with a "0x" prefix.
std::optional<std::uint8_t> ParseHexByte(const QString& text);
// Decimal integer within [min, max].
std::optional<int> ParseInteger(const QString& text, int min, int max);
std::optional<int> ParseBusAddress(const QString& text); // 1..16
// "M.m", each part 0..255.
std::optional<TFirmwareVersion> ParseFirmwareVersion(const QString& text);
std::optional<bool> ParseOnOff(const QString& text);

QString LineModeText(ELineMode mode); // "8-bit framed" or "9-bit"
}
