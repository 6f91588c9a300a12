#include "tools/module-sim/SimModule.h"

#include "link/FrameCodec.h"
#include "tools/module-sim/SimText.h"

namespace {

// Factory values: those the tool itself starts with, serial 0012A3FF.
constexpr std::array<std::uint8_t, SimRegister::Count> FactoryRegisters{
    7, 20, 0, 30, 30, 30, 0x00, 0x12, 0xA3, 0xFF, 0};

constexpr int MasterCardPayload = 10; // op, 0x00, eight card bytes

QString RegisterText(std::uint8_t reg)
{
    return QStringLiteral("0x") + SimText::HexByte(reg);
}

} // namespace

TByteString FramePayload(const TCanonicalFrame& frame)
{
    return frame.mid(FrameOffset::Payload, ByteAt(frame, FrameOffset::Length));
}

TSimModule::TSimModule(std::uint8_t address)
    : FAddress(address)
    , FRegisters(FactoryRegisters)
{
}

TByteString TSimModule::Registers() const
{
    return TByteString(reinterpret_cast<const char*>(FRegisters.data()), qsizetype(FRegisters.size()));
}

TSerialNumber TSimModule::Serial() const
{
    TSerialNumber serial;
    for (std::size_t i = 0; i < serial.size(); ++i)
        serial[i] = FRegisters[SimRegister::Serial0 + i];
    return serial;
}

void TSimModule::SetSerial(const TSerialNumber& serial)
{
    for (std::size_t i = 0; i < serial.size(); ++i)
        FRegisters[SimRegister::Serial0 + i] = serial[i];
}

void TSimModule::SetInput(std::uint8_t bit, bool on)
{
    SetInputs(on ? (FInputs | bit) : (FInputs & ~bit));
}

bool TSimModule::PresentCard(const TCardNumber& card)
{
    FLastCard = card;
    FCardReadPending = true;
    if (!FArmedAddress)
        return false;
    for (std::size_t i = 0; i < FArmedKey.size(); ++i) {
        if (FArmedKey[i] != card[card.size() - 1 - i])
            return false;
    }
    FAddress = *FArmedAddress;
    FArmedAddress.reset();
    return true;
}

void TSimModule::PresentCode(std::uint8_t code)
{
    FLastCode = code;
    FCardReadPending = true;
}

std::uint8_t TSimModule::StateFlags(qint64 nowMs) const
{
    std::uint8_t flags = FInputs;
    if (nowMs < FRelayPulseEndMs)
        flags |= SimState::Relay;
    if (FCardReadPending)
        flags |= SimState::CardRead;
    return flags;
}

void TSimModule::PulseRelay(qint64 nowMs)
{
    FRelayPulseEndMs = nowMs + qint64(FRegisters[SimRegister::StrikeTime]) * 1000;
}

void TSimModule::ArmAddressByCard(std::uint8_t address, const TServiceCardKey& key)
{
    FArmedAddress = address;
    FArmedKey = key;
}

TModuleAnswer TSimModule::Answer(const TCanonicalFrame& request, qint64 nowMs)
{
    const std::uint8_t command = ByteAt(request, FrameOffset::Command);
    const TByteString payload = FramePayload(request);
    switch (command) {
    case SimCommand::Status:
        return StatusReply(nowMs);
    case SimCommand::Firmware:
        return {Reply(SimCommand::Firmware, BytesOf({FFirmware.major, FFirmware.minor})), {}};
    case SimCommand::RegisterRead:
        return RegisterReadReply(payload);
    case SimCommand::RegisterWrite:
        return RegisterWriteReply(payload);
    case SimCommand::MasterCard:
        return MasterCardReply(payload);
    case SimCommand::Lightning:
        PulseRelay(nowMs);
        return {Acknowledgement(command, payload),
                QStringLiteral("relay pulls for %1 s").arg(FRegisters[SimRegister::StrikeTime])};
    default:
        return {std::nullopt, QStringLiteral("unknown command 0x%1: no reply").arg(SimText::HexByte(command))};
    }
}

TModuleAnswer TSimModule::StatusReply(qint64 nowMs)
{
    TByteString payload(1, '\0'); // byte 0 carries nothing
    for (std::uint8_t b : FLastCard)
        payload.append(static_cast<char>(b));
    payload.append(static_cast<char>(StateFlags(nowMs)));
    payload.append(static_cast<char>(FLastCode));
    FCardReadPending = false;
    return {Reply(SimCommand::Status + SimCommand::ReplyOffset, payload), {}};
}

TModuleAnswer TSimModule::RegisterReadReply(const TByteString& payload) const
{
    if (payload.isEmpty())
        return {std::nullopt, QStringLiteral("register read without a register: no reply")};
    const std::uint8_t reg = ByteAt(payload, 0);
    if (!IsRegister(reg))
        return {std::nullopt, QStringLiteral("no register %1: no reply").arg(RegisterText(reg))};
    return {Reply(SimCommand::RegisterRead + SimCommand::ReplyOffset, BytesOf({reg, FRegisters[reg]})), {}};
}

TModuleAnswer TSimModule::RegisterWriteReply(const TByteString& payload)
{
    if (payload.size() < 2)
        return {std::nullopt, QStringLiteral("register write without a value: no reply")};
    const std::uint8_t reg = ByteAt(payload, 0);
    if (!IsRegister(reg))
        return {std::nullopt, QStringLiteral("no register %1: no reply").arg(RegisterText(reg))};
    FRegisters[reg] = ByteAt(payload, 1);
    return {Acknowledgement(SimCommand::RegisterWrite, payload), {}};
}

TModuleAnswer TSimModule::MasterCardReply(const TByteString& payload)
{
    if (payload.size() < MasterCardPayload)
        return {std::nullopt, QStringLiteral("master card request too short: no reply")};
    const int op = ByteAt(payload, 0);
    if (op > 1)
        return {std::nullopt, QStringLiteral("master card operation %1 unknown: no reply").arg(op)};
    TCardNumber card;
    for (std::size_t i = 0; i < card.size(); ++i) // the frame carries the lowest byte first
        card[card.size() - 1 - i] = ByteAt(payload, qsizetype(2 + i));
    FMasterCards[static_cast<std::size_t>(op)] = card;
    return {Acknowledgement(SimCommand::MasterCard, payload), {}};
}

TCanonicalFrame TSimModule::Reply(std::uint8_t code, const TByteString& payload) const
{
    TByteString body = BytesOf({FAddress, static_cast<std::uint8_t>(payload.size()), code});
    return BuildFrame(body + payload);
}

// Replies the tool does not examine: the request code plus 0x64 and, unless
// bare, one byte: the request's first payload byte.
TCanonicalFrame TSimModule::Acknowledgement(std::uint8_t command, const TByteString& payload) const
{
    const auto code = static_cast<std::uint8_t>(command + SimCommand::ReplyOffset);
    if (FBareAcknowledgement)
        return Reply(code, {});
    const std::uint8_t echoed = payload.isEmpty() ? 0 : ByteAt(payload, 0);
    return Reply(code, BytesOf({echoed}));
}
