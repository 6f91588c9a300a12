#pragma once
// One virtual reader module: bus address, registers, inputs, the card reader
// and its answers to the requests addressed to it. No I/O; time is passed in.

#include "base/CommTypesU.h"
#include "tools/module-sim/SimTypes.h"

#include <QString>

#include <optional>

// Bits of the state flags in the status reply.
namespace SimState {
constexpr std::uint8_t Relay = 0x01;
constexpr std::uint8_t Input2 = 0x02;
constexpr std::uint8_t Input1 = 0x04;
constexpr std::uint8_t Tamper = 0x08;
constexpr std::uint8_t DoorAjar = 0x10;
constexpr std::uint8_t ForcedDoor = 0x20;
constexpr std::uint8_t CardRead = 0x80;
// What the outside world can switch: everything but the card-read bit.
constexpr std::uint8_t InputMask = 0x7F;
}

namespace SimRegister {
constexpr std::uint8_t StrikeTime = 0x00;
constexpr std::uint8_t Serial0 = 0x06; // 0x06..0x09
constexpr std::uint8_t Beep = 0x0A;
constexpr int Count = 11;
}

namespace SimCommand {
constexpr std::uint8_t MasterCard = 0x00; // also the assignment code at address 0
constexpr std::uint8_t AssignmentFollowUp = 0x01;
constexpr std::uint8_t SetAddressByCard = 0x02;
constexpr std::uint8_t RegisterWrite = 0x52;
constexpr std::uint8_t Status = 0x51;
constexpr std::uint8_t RegisterRead = 0x53;
constexpr std::uint8_t Lightning = 0x54;
constexpr std::uint8_t Firmware = 0xFF;
constexpr std::uint8_t ReplyOffset = 0x64; // reply code = request code + 0x64
}

// The N payload bytes of a canonical frame.
TByteString FramePayload(const TCanonicalFrame& frame);

// What a module does with a request: a reply or none, and why, for the log.
struct TModuleAnswer {
    std::optional<TCanonicalFrame> reply;
    QString note;
};

class TSimModule {
public:
    explicit TSimModule(std::uint8_t address = 1);

    std::uint8_t Address() const { return FAddress; }
    void SetAddress(std::uint8_t address) { FAddress = address; }

    TFirmwareVersion Firmware() const { return FFirmware; }
    void SetFirmware(TFirmwareVersion version) { FFirmware = version; }

    static bool IsRegister(std::uint8_t reg) { return reg < SimRegister::Count; }
    std::uint8_t Register(std::uint8_t reg) const { return FRegisters.at(reg); }
    void SetRegister(std::uint8_t reg, std::uint8_t value) { FRegisters.at(reg) = value; }
    // All registers, 0x00 first.
    TByteString Registers() const;
    TSerialNumber Serial() const;
    void SetSerial(const TSerialNumber& serial);

    // Master cards: index 0 the "+" card, 1 the "-" card.
    const TCardNumber& MasterCard(int op) const { return FMasterCards.at(static_cast<std::size_t>(op)); }
    void SetMasterCard(int op, const TCardNumber& card) { FMasterCards.at(static_cast<std::size_t>(op)) = card; }

    // Switched inputs (SimState bits within InputMask).
    void SetInputs(std::uint8_t bits) { FInputs = bits & SimState::InputMask; }
    void SetInput(std::uint8_t bit, bool on);

    // A card read arms the card-read bit of the next status reply. A module
    // armed by a set-by-card request whose key matches takes the armed
    // address; the result says so.
    bool PresentCard(const TCardNumber& card);
    void PresentCode(std::uint8_t code);
    const TCardNumber& LastCard() const { return FLastCard; }
    std::uint8_t LastCode() const { return FLastCode; }

    // The flags the next status reply carries at time nowMs.
    std::uint8_t StateFlags(qint64 nowMs) const;

    // The lightning command: the relay pulls for the strike time (seconds).
    void PulseRelay(qint64 nowMs);

    // Acknowledgements without the echoed payload byte (N = 0), as some
    // firmware sends them.
    bool BareAcknowledgement() const { return FBareAcknowledgement; }
    void SetBareAcknowledgement(bool on) { FBareAcknowledgement = on; }

    bool AssignMode() const { return FAssignMode; }
    void SetAssignMode(bool on) { FAssignMode = on; }
    void ArmAddressByCard(std::uint8_t address, const TServiceCardKey& key);
    std::optional<std::uint8_t> ArmedAddress() const { return FArmedAddress; }
    const TServiceCardKey& ArmedKey() const { return FArmedKey; }

    // Answer to a good request addressed to this module (canonical frame).
    TModuleAnswer Answer(const TCanonicalFrame& request, qint64 nowMs);

private:
    TModuleAnswer StatusReply(qint64 nowMs);
    TModuleAnswer RegisterReadReply(const TByteString& payload) const;
    TModuleAnswer RegisterWriteReply(const TByteString& payload);
    TModuleAnswer MasterCardReply(const TByteString& payload);
    TCanonicalFrame Reply(std::uint8_t code, const TByteString& payload) const;
    TCanonicalFrame Acknowledgement(std::uint8_t command, const TByteString& payload) const;

    std::uint8_t FAddress;
    TFirmwareVersion FFirmware;
    std::array<std::uint8_t, SimRegister::Count> FRegisters;
    std::array<TCardNumber, 2> FMasterCards{};
    std::uint8_t FInputs = 0;
    TCardNumber FLastCard{};
    std::uint8_t FLastCode = 0;
    bool FCardReadPending = false;
    qint64 FRelayPulseEndMs = 0;
    bool FAssignMode = false;
    bool FBareAcknowledgement = false;
    std::optional<std::uint8_t> FArmedAddress;
    TServiceCardKey FArmedKey{};
};
