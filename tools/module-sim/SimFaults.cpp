#include "tools/module-sim/SimFaults.h"

#include "link/FrameCodec.h"
#include "tools/module-sim/SimText.h"

#include <QStringList>

void TEveryNth::SetPeriod(int period)
{
    FPeriod = period;
    FCount = 0;
}

bool TEveryNth::Fires()
{
    if (FPeriod <= 0)
        return false;
    FCount = (FCount + 1) % FPeriod;
    return FCount == 0;
}

namespace {

QString PeriodText(const QString& what, const TEveryNth& fault)
{
    if (fault.Period() == 1)
        return what;
    return QStringLiteral("%1 (1 in %2)").arg(what).arg(fault.Period());
}

// A changed byte that is neither the start byte nor the escape byte.
std::uint8_t Spoilt(std::uint8_t value)
{
    std::uint8_t spoilt = value ^ 0x01;
    if (spoilt == Frame::StartByte || spoilt == Frame::EscapeByte)
        spoilt = value ^ 0x02;
    return spoilt;
}

} // namespace

QString TSimFaults::Describe() const
{
    QStringList parts;
    if (noReply.Period() > 0)
        parts << PeriodText(QStringLiteral("no reply"), noReply);
    if (corruptCheck.Period() > 0)
        parts << PeriodText(QStringLiteral("corrupt check word"), corruptCheck);
    if (strayByte.Period() > 0)
        parts << PeriodText(QStringLiteral("stray byte"), strayByte);
    if (delayMs > 0)
        parts << QStringLiteral("delay %1 ms").arg(delayMs);
    if (splitGapMs > 0)
        parts << QStringLiteral("split with %1 ms gaps").arg(splitGapMs);
    if (dropAfterRequest)
        parts << QStringLiteral("drop after the next request");
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QLatin1String(", "));
}

std::optional<int> ParsePeriod(const QString& text)
{
    if (const auto on = SimText::ParseOnOff(text))
        return *on ? 1 : 0;
    return SimText::ParseInteger(text, 0, SimFaultLimits::MaxPeriod);
}

// The line ends with the escaped high byte of the check word: one byte, or
// 0x99 and the byte minus 0x80. A 0x99 never follows an escape byte, so the
// second-to-last byte tells which.
void CorruptFramed8CheckWord(TByteString& line)
{
    const qsizetype last = line.size() - 1;
    const bool escaped = line.size() >= 2 && ByteAt(line, last - 1) == Frame::EscapeByte;
    const std::uint8_t high = escaped ? static_cast<std::uint8_t>(ByteAt(line, last) + Frame::EscapeOffset)
                                      : ByteAt(line, last);
    line.chop(escaped ? 2 : 1);
    line.append(static_cast<char>(Spoilt(high)));
}

void CorruptNineBitCheckWord(TByteString& frame)
{
    const qsizetype last = frame.size() - 1;
    frame[last] = static_cast<char>(ByteAt(frame, last) ^ 0x01);
}
