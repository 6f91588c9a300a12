#pragma once
// Fault injection on the module's replies, all switchable at run time.

#include "base/CommTypesU.h"

#include <QString>

// Fires on every n-th call (n = 1: every call; 0: never).
class TEveryNth {
public:
    void SetPeriod(int period);
    int Period() const { return FPeriod; }
    bool Fires();

private:
    int FPeriod = 0;
    int FCount = 0;
};

namespace SimFaultLimits {
constexpr int MaxPeriod = 1000000;
constexpr int MaxDelayMs = 60000;
constexpr int MaxGapMs = 10000;
constexpr std::uint8_t StrayByte = 0x00; // what a glitch on an idle line reads as
}

struct TSimFaults {
    TEveryNth noReply;      // the reply is not sent
    TEveryNth corruptCheck; // the check word is spoilt
    TEveryNth strayByte;    // a byte goes out before the reply
    int delayMs = 0;        // the reply leaves this late
    int splitGapMs = 0;     // > 0: the reply goes out byte by byte, this far apart
    bool dropAfterRequest = false; // the next request ends the connection instead of a reply

    void Clear() { *this = TSimFaults{}; }
    QString Describe() const; // "none" or a comma-separated list
};

// Period text: "on" (every reply), "off", or n.
std::optional<int> ParsePeriod(const QString& text);

// Spoil the check word of a reply in line form so that no byte needs escaping
// afresh: the high byte is changed in place.
void CorruptFramed8CheckWord(TByteString& line);
void CorruptNineBitCheckWord(TByteString& frame);
