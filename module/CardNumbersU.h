#pragma once
// Card numbers and the module's serial number (AppID) as the user types them.

#include <QString>

#include <array>
#include <cstdint>

// Left-padded with '0' to 16 characters, then upper-cased (longer stays whole).
QString NormalizeCardNumber(const QString& text);
// 1..16 characters, all hexadecimal digits.
bool IsValidCardNumber(const QString& text);
// Exactly 8 hexadecimal digits.
bool IsValidAppID(const QString& text);

// The 16 digits as 8 bytes, the first two digits the most significant (byte 0).
std::array<std::uint8_t, 8> CardBytes(const QString& normalizedCard);

// AppID text: byte 0 is digits 1-2 ... byte 3 digits 7-8; byte 0 counts lowest.
using TAppID = std::array<std::uint8_t, 4>;
TAppID AppIDBytes(const QString& appID);
// The next module's number after a write, and back from a stored next number
// to the one last written; each wraps, so one undoes the other.
TAppID IncrementAppID(TAppID id);
TAppID DecrementAppID(TAppID id);
// The AppID field's and the settings file's form: lower case, two digits per
// byte, byte 0 first.
QString AppIDText(const TAppID& id);
// The serial number as every output shows it (the window's "sn:", vyxctl,
// the write record, the certificate): the same digits in upper case.
QString SerialNumberText(const TAppID& id);
// The counter IncrementAppID advances, as a number: byte 0 the lowest.
std::uint32_t AppIDNumber(const TAppID& id);
TAppID AppIDFromNumber(std::uint32_t number);
