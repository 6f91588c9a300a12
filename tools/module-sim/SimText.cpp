#include "tools/module-sim/SimText.h"

#include <QStringList>

namespace {

bool IsHexDigits(const QString& text)
{
    for (QChar c : text) {
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (!hex)
            return false;
    }
    return true;
}

// Big-endian bytes of an even-length hex text already checked by IsHexDigits.
template <std::size_t Size>
std::array<std::uint8_t, Size> BytesOfHex(const QString& text)
{
    std::array<std::uint8_t, Size> bytes{};
    for (std::size_t i = 0; i < Size; ++i)
        bytes[i] = static_cast<std::uint8_t>(text.mid(static_cast<qsizetype>(2 * i), 2).toUInt(nullptr, 16));
    return bytes;
}

template <std::size_t Size>
QString HexOfBytes(const std::array<std::uint8_t, Size>& bytes)
{
    QString text;
    for (std::uint8_t b : bytes)
        text += SimText::HexByte(b);
    return text;
}

} // namespace

namespace SimText {

std::optional<TCardNumber> ParseCardNumber(const QString& text)
{
    if (text.isEmpty() || text.size() > 16 || !IsHexDigits(text))
        return std::nullopt;
    return BytesOfHex<8>(text.rightJustified(16, u'0'));
}

QString CardText(const TCardNumber& card)
{
    return HexOfBytes(card);
}

std::optional<TSerialNumber> ParseSerialNumber(const QString& text)
{
    if (text.size() != 8 || !IsHexDigits(text))
        return std::nullopt;
    return BytesOfHex<4>(text);
}

QString SerialText(const TSerialNumber& serial)
{
    return HexOfBytes(serial);
}

TSerialNumber NextSerialNumber(TSerialNumber serial)
{
    for (std::uint8_t& b : serial) {
        if (++b != 0)
            break;
    }
    return serial;
}

std::optional<std::uint8_t> ParseHexByte(const QString& text)
{
    QString digits = text;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    if (digits.isEmpty() || digits.size() > 2 || !IsHexDigits(digits))
        return std::nullopt;
    return static_cast<std::uint8_t>(digits.toUInt(nullptr, 16));
}

std::optional<int> ParseInteger(const QString& text, int min, int max)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<int> ParseBusAddress(const QString& text)
{
    return ParseInteger(text, SimLimits::MinAddress, SimLimits::MaxAddress);
}

std::optional<TFirmwareVersion> ParseFirmwareVersion(const QString& text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 2)
        return std::nullopt;
    const auto major = ParseInteger(parts[0], 0, 255);
    const auto minor = ParseInteger(parts[1], 0, 255);
    if (!major || !minor)
        return std::nullopt;
    return TFirmwareVersion{static_cast<std::uint8_t>(*major), static_cast<std::uint8_t>(*minor)};
}

std::optional<bool> ParseOnOff(const QString& text)
{
    if (text == QLatin1String("on"))
        return true;
    if (text == QLatin1String("off"))
        return false;
    return std::nullopt;
}

QString LineModeText(ELineMode mode)
{
    return mode == ELineMode::Framed8 ? QStringLiteral("8-bit framed") : QStringLiteral("9-bit");
}

} // namespace SimText
