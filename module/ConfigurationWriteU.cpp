#include "module/ConfigurationWriteU.h"

#include "module/ModuleRequestsU.h"

namespace {
// the module's sense: 0 beeps
constexpr std::uint8_t BeepOn = 0x00;
constexpr std::uint8_t BeepOff = 0x01;
}

QList<TByteString> ConfigurationWrite(std::uint8_t address, const TReaderConfiguration& reader,
                                      const std::optional<TMasterConfiguration>& master)
{
    using namespace ModuleRequests;
    QList<TByteString> batch{
        RegisterWrite(address, Register::StrikeTime, reader.strikeTime),
        RegisterWrite(address, Register::DoorAjarDelay, reader.doorAjarDelay),
        RegisterWrite(address, Register::ReaderFunction, reader.readerFunction),
        RegisterWrite(address, Register::TamperSignal, reader.tamperSignal),
        RegisterWrite(address, Register::ForcedDoorSignal, reader.forcedDoorSignal),
        RegisterWrite(address, Register::DoorAjarSignal, reader.doorAjarSignal),
        RegisterWrite(address, Register::Beep, reader.beep ? BeepOn : BeepOff),
    };
    if (!master)
        return batch;
    for (std::size_t i = 0; i < master->appID.size(); ++i)
        batch << RegisterWrite(address, std::uint8_t(Register::FirstSerialByte + i), master->appID[i]);
    batch << MasterCard(address, TMasterCardOperation::Add, master->addCard)
          << MasterCard(address, TMasterCardOperation::Delete, master->deleteCard);
    return batch;
}

QString SettingWritten(const TByteString& body)
{
    using namespace ModuleRequests;
    if (body.size() <= FrameOffset::Payload)
        return QStringLiteral("request");
    const std::uint8_t code = ByteAt(body, FrameOffset::Command);
    const std::uint8_t first = ByteAt(body, FrameOffset::Payload);
    if (code == Code::MasterCard)
        return first == std::uint8_t(TMasterCardOperation::Add) ? QStringLiteral("\"+\" card")
                                                                 : QStringLiteral("\"-\" card");
    if (code != Code::RegisterWrite)
        return QStringLiteral("request");
    switch (first) {
    case Register::StrikeTime: return QStringLiteral("strike time");
    case Register::DoorAjarDelay: return QStringLiteral("door-ajar delay");
    case Register::ReaderFunction: return QStringLiteral("reader function");
    case Register::TamperSignal: return QStringLiteral("tamper signal");
    case Register::ForcedDoorSignal: return QStringLiteral("forced-door signal");
    case Register::DoorAjarSignal: return QStringLiteral("door-ajar signal");
    case Register::Beep: return QStringLiteral("beep");
    default:
        if (first >= Register::FirstSerialByte && first < Register::FirstSerialByte + Register::SerialByteCount)
            return QStringLiteral("serial number byte %1").arg(first - Register::FirstSerialByte + 1);
        return QStringLiteral("register 0x%1").arg(first, 2, 16, QLatin1Char('0'));
    }
}
