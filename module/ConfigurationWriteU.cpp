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
