#include "module/CardNumbersU.h"

#include <QByteArrayView>

#include <algorithm>

namespace {
constexpr qsizetype CardDigits = 16;
constexpr qsizetype AppIDDigits = 8;

// ASCII only: QChar::isDigit would also take other scripts' digits.
int HexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

bool AllHex(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return HexValue(c) >= 0; });
}

// The text's digit pairs as bytes, the first pair in byte 0. A pair that is
// missing or not hexadecimal gives 0, so text that skipped validation cannot
// send garbage (QByteArray::fromHex would skip the bad digit and shift the
// pairs after it).
template <std::size_t N>
std::array<std::uint8_t, N> PairBytes(const QString& text)
{
    std::array<std::uint8_t, N> bytes{};
    for (qsizetype i = 0; i < qsizetype(N) && 2 * i + 1 < text.size(); ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high >= 0 && low >= 0)
            bytes[std::size_t(i)] = std::uint8_t(high * 16 + low);
    }
    return bytes;
}
}

QString NormalizeCardNumber(const QString& text)
{
    return text.rightJustified(CardDigits, u'0').toUpper();
}

bool IsValidCardNumber(const QString& text)
{
    return !text.isEmpty() && text.size() <= CardDigits && AllHex(text);
}

bool IsValidAppID(const QString& text)
{
    return text.size() == AppIDDigits && AllHex(text);
}

std::array<std::uint8_t, 8> CardBytes(const QString& normalizedCard)
{
    return PairBytes<8>(normalizedCard);
}

TAppID AppIDBytes(const QString& appID)
{
    return PairBytes<4>(appID);
}

TAppID IncrementAppID(TAppID id)
{
    for (std::uint8_t& byte : id) {
        if (++byte != 0)
            break;
    }
    return id;
}

TAppID DecrementAppID(TAppID id)
{
    for (std::uint8_t& byte : id) {
        if (byte-- != 0)
            break;
    }
    return id;
}

QString AppIDText(const TAppID& id)
{
    return QString::fromLatin1(QByteArrayView(id).toByteArray().toHex());
}

QString SerialNumberText(const TAppID& id)
{
    return AppIDText(id).toUpper();
}

std::uint32_t AppIDNumber(const TAppID& id)
{
    std::uint32_t number = 0;
    for (std::size_t i = id.size(); i-- > 0;)
        number = number << 8 | id[i];
    return number;
}

TAppID AppIDFromNumber(std::uint32_t number)
{
    TAppID id{};
    for (std::uint8_t& byte : id) {
        byte = std::uint8_t(number);
        number >>= 8;
    }
    return id;
}
