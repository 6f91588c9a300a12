#pragma once
// The batch of requests that writes the module's configuration: the general
// properties as register writes and, for a master reader, its serial number
// (AppID) and the "+" and "-" master cards.

#include "base/CommTypesU.h"
#include "module/CardNumbersU.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// The general properties as the module takes them, one byte each.
struct TReaderConfiguration {
    std::uint8_t strikeTime = 7;
    std::uint8_t doorAjarDelay = 20;
    std::uint8_t readerFunction = 0; // 0 door + handle, 1 door + REX button
    std::uint8_t tamperSignal = 30;
    std::uint8_t forcedDoorSignal = 30;
    std::uint8_t doorAjarSignal = 30;
    bool beep = true;
};

struct TMasterConfiguration {
    TAppID appID{};
    QString addCard; // 1..16 hexadecimal digits, as typed
    QString deleteCard;
};

// The request bodies in the order they go out: registers 0x00..0x05 and 0x0A,
// then for a master reader the AppID to registers 0x06..0x09, the "+" card and
// the "-" card. address: the bus address 1..16.
QList<TByteString> ConfigurationWrite(std::uint8_t address, const TReaderConfiguration& reader,
                                      const std::optional<TMasterConfiguration>& master = std::nullopt);

// The setting a request of that batch writes, in the words of a message:
// "strike time", "serial number byte 2", "\"+\" card".
QString SettingWritten(const TByteString& body);
