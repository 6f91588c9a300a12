#include "ui/CardNumbersU.h"

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

// Digits i and i+1 as one byte; a pair that is missing or not hexadecimal
// gives 0, so text that skipped validation cannot send garbage.
std::uint8_t PairValue(const QString& text, qsizetype i)
{
    if (i + 1 >= text.size())
        return 0;
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0)
        return 0;
    return std::uint8_t(high * 16 + low);
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
    std::array<std::uint8_t, 8> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = PairValue(normalizedCard, qsizetype(2 * i));
    return bytes;
}

TAppID AppIDBytes(const QString& appID)
{
    TAppID bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = PairValue(appID, qsizetype(2 * i));
    return bytes;
}

TAppID IncrementAppID(TAppID id)
{
    for (std::uint8_t& byte : id) {
        if (++byte != 0)
            break;
    }
    return id;
}

QString AppIDText(const TAppID& id)
{
    QString text;
    for (const std::uint8_t byte : id)
        text += QString::number(byte, 16).rightJustified(2, u'0');
    return text;
}
