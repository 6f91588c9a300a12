#pragma once
// The event log's rows as short words, for comparing a run's events in one
// line: "card", "change:tamper=on", "timeOut".

#include "session/SessionEventsU.h"

#include <QStringList>

inline QStringList EventTypes(const TSessionEventLog& log)
{
    QStringList types;
    for (int row = 0; row < log.rowCount(); ++row) {
        const TSessionEvent& e = log.Event(row);
        const QString signal = e.Text("signal");
        types << e.type + (signal.isEmpty() ? QString() : ':' + signal + '=' + e.Text("state"));
    }
    return types;
}
