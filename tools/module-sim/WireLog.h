#pragma once
// Entries of the wire log: what crossed the line, and what the modules did.

#include "base/CommTypesU.h"

#include <QString>

enum class ELogKind { Rx, Tx, Note };

struct TWireLogEntry {
    qint64 atMs = 0; // since the simulator started
    ELogKind kind = ELogKind::Note;
    TByteString bytes;
    QString text;
};

// "    1234 rx  AA 01 51 02 02 01 02 A7 FF  poll addr 1"
QString FormatLogEntry(const TWireLogEntry& entry);
