#pragma once
// The threads of this process, as the kernel counts them.

#include <QDir>

inline int ThreadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}
