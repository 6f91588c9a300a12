#pragma once
// vyxctl and the production database: "db init", "records", the database a
// command uses (--database, else the settings file's [Production] Database)
// and the write a certificate is reprinted from.

#include "tools/vyxctl/CtlCommandLine.h"

#include <QDate>
#include <QString>

#include <optional>

class TCtlOutput;
class TIniFile;

// "db" and "records".
bool IsDatabaseCommand(const TCtlCommandLine& commandLine);
// Raises EUsage, EProductionDatabase.
int RunDatabaseCommand(const TCtlCommandLine& commandLine, TCtlOutput& out);

// --database, else the settings file's; empty when neither is set. Raises
// EUsage for one that is no postgresql:// URL.
QString DatabaseUrl(const TCtlCommandLine& commandLine);
// The same from a settings file already read.
QString DatabaseUrl(const TCtlCommandLine& commandLine, const TIniFile& settings);

// The day the serial number's last write that went through was recorded;
// nothing when no database is set. Raises EUsage when the record holds no
// such write, EProductionDatabase.
std::optional<QDate> RecordedWriteDate(const TCtlCommandLine& commandLine, const QString& serial);
