#pragma once
// The module's firmware version and serial number, read as the window reads
// them: the firmware-version request and the register reads 6 to 9, and the
// replies to them.

#include "base/CommTypesU.h"
#include "module/ModuleRequestsU.h"

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// What the replies of the module at one address said; replies from other
// addresses and of other kinds are passed over.
class TModuleInfo {
public:
    explicit TModuleInfo(std::uint8_t address);
    void Take(const TCanonicalFrame& reply);
    std::optional<QString> Firmware() const { return FFirmware; } // "2.5"
    // 8 hex digits, register 6 first, once all four have come, unless all
    // four are 0xFF (no serial number given).
    std::optional<QString> SerialNumber() const;
    // All four serial registers have come (a serial number, or none given).
    bool SerialRead() const;
    // 1 to 4: the serial register (6 to 9) that came last; 0: none yet.
    int LastSerialByte() const { return FLastSerialByte; }
    // The firmware request and the serial reads (registers 6 to 9) still missing.
    QList<TByteString> MissingRequests() const;
    std::uint8_t Address() const { return FAddress; }

private:
    std::uint8_t FAddress;
    std::optional<QString> FFirmware;
    std::array<std::uint8_t, ModuleRequests::Register::SerialByteCount> FSerial{};
    std::array<bool, ModuleRequests::Register::SerialByteCount> FReceived{};
    int FLastSerialByte = 0;
};
