#include "tools/module-sim/WireLog.h"

#include "tools/module-sim/SimText.h"

QString FormatLogEntry(const TWireLogEntry& entry)
{
    static const char* const kinds[] = {"rx", "tx", "--"};
    QString line = QStringLiteral("%1 %2").arg(entry.atMs, 8).arg(QLatin1String(kinds[static_cast<int>(entry.kind)]));
    if (!entry.bytes.isEmpty())
        line += QStringLiteral("  ") + SimText::HexBytes(entry.bytes);
    if (!entry.text.isEmpty())
        line += QStringLiteral("  ") + entry.text;
    return line;
}
