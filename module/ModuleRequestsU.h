#pragma once
// The module's protocol as the program speaks it: command codes, registers
// and every request body (address, N, code, payload; the link adds the check
// word). The link, the module session and the frame descriptions all use it.

#include "base/CommTypesU.h"

#include <QString>

#include <cstdint>

namespace ModuleRequests {
// The request codes.
namespace Code {
constexpr std::uint8_t MasterCard = 0x00; // to address 0: the address assignment
constexpr std::uint8_t AddressAssignment = 0x00;
constexpr std::uint8_t AssignmentFollowUp = 0x01;
constexpr std::uint8_t SetByCard = 0x02;
constexpr std::uint8_t Status = 0x51;
constexpr std::uint8_t RegisterWrite = 0x52;
constexpr std::uint8_t RegisterRead = 0x53;
constexpr std::uint8_t Lightning = 0x54;
constexpr std::uint8_t Firmware = 0xFF;
}

// The registers that RegisterRead and RegisterWrite address.
namespace Register {
constexpr std::uint8_t StrikeTime = 0x00;
constexpr std::uint8_t DoorAjarDelay = 0x01;
constexpr std::uint8_t ReaderFunction = 0x02;
constexpr std::uint8_t TamperSignal = 0x03;
constexpr std::uint8_t ForcedDoorSignal = 0x04;
constexpr std::uint8_t DoorAjarSignal = 0x05;
// the serial number (AppID) in registers 6 to 9, its byte 0 in register 6
constexpr std::uint8_t FirstSerialByte = 0x06;
constexpr int SerialByteCount = 4;
constexpr std::uint8_t Beep = 0x0A;
}

// The requests the link sends by itself: the status poll whenever its queue
// is empty, and the two frames of the direct address assignment.
TByteString Poll(std::uint8_t hwAddress);            // addr 02 51 01 02
TByteString AddressAssignment(std::uint8_t address); // 00 01 00 a
TByteString AssignmentFollowUp();                    // 00 01 01 01

// address: the bus address 1..16, sent unchanged (16 goes out as 0x10)
TByteString FirmwareVersion(std::uint8_t address);
TByteString RegisterRead(std::uint8_t address, std::uint8_t reg);
TByteString Lightning(std::uint8_t address);
TByteString RegisterWrite(std::uint8_t address, std::uint8_t reg, std::uint8_t value);

// The master cards: operation 0 the "+" card, 1 the "-" card. The card's eight
// bytes go least significant first. card: 1..16 hexadecimal digits.
enum class TMasterCardOperation : std::uint8_t { Add = 0x00, Delete = 0x01 };
TByteString MasterCard(std::uint8_t address, TMasterCardOperation operation, const QString& card);

// The address that the two assignment frames carry: 16 becomes 0.
std::uint8_t AssignedAddress(int busAddress);
int BusAddressOfAssigned(std::uint8_t carried); // 0 is 16
// To address 0: the new address and the card's four least significant bytes,
// least significant first. serviceCard: 16 hexadecimal digits.
TByteString SetByCard(int busAddress, const QString& serviceCard);
}
