#pragma once
// vyxctl run as a program to its end, with its exit status and its output.

#include <QProcess>
#include <QString>
#include <QStringList>

struct TCtlRun {
    int exitCode = -1; // -1: it crashed or had to be killed
    QString out;
    QString err;
};

inline TCtlRun RunVyxctl(const QStringList& args, int waitMs)
{
    QProcess process;
    process.start(QStringLiteral(VYX_CTL), args);
    if (!process.waitForFinished(waitMs))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}
