#pragma once
// The text that the --state file holds: what a module keeps across power
// cycles (bus address, registers, master cards), one [module] section each.

#include "tools/module-sim/SimModule.h"

#include <vector>

QString FormatState(const std::vector<TSimModule>& modules);

struct TStateParse {
    std::vector<TSimModule> modules;
    QString error; // empty when the text was good; else "line N: ..."
};
// Keys missing from a section keep the factory values.
TStateParse ParseState(const QString& text, TFirmwareVersion firmware);
