#pragma once
// The threads of this process that carry a name, as the kernel counts them.
// Counting by name keeps threads of the runtime (the sanitizers', Qt Test's)
// out of the figure.

#include <QDir>
#include <QFile>

inline int ThreadCount(const QByteArray& name)
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    int count = 0;
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            ++count;
    }
    return count;
}
