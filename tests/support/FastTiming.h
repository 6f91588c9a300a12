#pragma once
// The conversation with the module at a tenth of its pace, for the tests of
// the window and vyxctl; vyxctl run as a program is told so through its
// environment.

#include "link/LinkTimingU.h"

#include <QProcessEnvironment>

constexpr int FastPaceDivisor = 10;

inline TLinkTiming FastTiming()
{
    return TLinkTiming{}.Faster(FastPaceDivisor);
}

// This process's environment, with vyxctl's pace set as FastTiming's.
inline QProcessEnvironment FastPaceEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VYXCTL_TEST_PACE"), QString::number(FastPaceDivisor));
    return environment;
}
