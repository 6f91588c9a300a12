#include "tools/module-sim/WireLog.h"

#include "module/FrameDescriptionU.h"

QString FormatLogEntry(const TWireLogEntry& entry)
{
    static const char* const kinds[] = {"rx", "tx", "--"};
    return WireLogLine(entry.atMs, kinds[static_cast<int>(entry.kind)], entry.bytes, entry.text);
}
