#include "tools/vyxctl/CtlDatabase.h"

#include "tools/vyxctl/CtlCommands.h"
#include "tools/vyxctl/CtlOutput.h"
#include "tools/vyxctl/CtlSession.h"
#include "files/IniFile.h"
#include "files/SettingsU.h"
#include "production/ProductionDatabaseU.h"

#include <QStringList>

namespace {
TAppID SerialOption(const TCtlCommandLine& cl, const QString& option)
{
    const QString text = cl.options.value(option);
    if (!IsValidAppID(text))
        throw EUsage(QStringLiteral("%1: \"%2\" is not 8 hex digits").arg(option, text));
    return AppIDBytes(text);
}

// --first, else the settings file's next serial number: a line that grows
// from one station goes on counting where that station stood.
std::optional<TAppID> FirstSerial(const TCtlCommandLine& cl)
{
    if (cl.Has("--first"))
        return SerialOption(cl, "--first");
    const QString next = ReadSettings(TIniFile(SettingsFilePath(cl)), {}).lastAppID;
    return IsValidAppID(next) ? std::optional(AppIDBytes(next)) : std::nullopt;
}

int Initialize(const TCtlCommandLine& cl, TCtlOutput& out, TProductionDatabase& db)
{
    if (cl.arguments.value(0) != QLatin1String("init"))
        throw EUsage(QStringLiteral("db: \"%1\" is no subcommand; there is init").arg(cl.arguments.value(0)));
    const std::optional<TAppID> first = FirstSerial(cl);
    if (!first && !db.HasSchema())
        throw EUsage(QStringLiteral("db init needs --first HEX8, the first serial number to hand out: the settings "
                                    "file holds none"));
    const bool created = db.Initialize(first.value_or(TAppID{}));
    const QString next = SerialNumberText(db.NextSerial());
    if (!created && cl.Has("--first"))
        throw EUsage(QStringLiteral("--first: the serial numbers of %1 were started before and start once; the "
                                    "next is %2")
                         .arg(db.Name(), next));
    out.Result(QStringLiteral("%1: schema version %2 %3, next serial number %4")
                   .arg(db.Name())
                   .arg(ProductionSchemaVersion)
                   .arg(created ? QStringLiteral("created") : QStringLiteral("was there"), next),
               {{"database", db.Name()},
                {"schemaVersion", ProductionSchemaVersion},
                {"created", created},
                {"nextSerialNumber", next}});
    return CtlExit::Done;
}

// YYYY-MM-DD from the start of that day here, or a date and time.
QDateTime SinceOption(const TCtlCommandLine& cl)
{
    const QString text = cl.options.value("--since");
    const QDate day = QDate::fromString(text, Qt::ISODate);
    const QDateTime since = day.isValid() ? day.startOfDay() : QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!since.isValid())
        throw EUsage(QStringLiteral("--since: \"%1\" is neither a date YYYY-MM-DD nor a date and time "
                                    "YYYY-MM-DDTHH:MM[:SS]")
                         .arg(text));
    return since;
}

QString RowText(const TRecordRow& row)
{
    const QJsonObject json = row.ToJson();
    QStringList fields{QString::number(row.id), json["time"].toString(), row.state,
                       QStringLiteral("serial %1").arg(json["serialWritten"].toString(QStringLiteral("-"))),
                       QStringLiteral("read %1").arg(json["serialRead"].toString(QStringLiteral("-"))),
                       QStringLiteral("firmware %1").arg(json["firmware"].toString(QStringLiteral("-"))),
                       QStringLiteral("addr %1").arg(row.address), QStringLiteral("%1 %2").arg(row.transport, row.port),
                       QStringLiteral("%1@%2 %3").arg(row.user, row.host, row.frontEnd)};
    if (row.state == QLatin1String("failed"))
        fields << QStringLiteral("at %1: %2").arg(row.failedSetting, row.reason);
    return fields.join(QStringLiteral("  "));
}

int ListRecords(const TCtlCommandLine& cl, TCtlOutput& out, TProductionDatabase& db)
{
    TRecordFilter filter;
    if (cl.Has("--serial"))
        filter.serial = SerialOption(cl, "--serial");
    if (cl.Has("--since"))
        filter.since = SinceOption(cl);
    for (const TRecordRow& row : db.Records(filter))
        out.Result(RowText(row), row.ToJson());
    return CtlExit::Done;
}
}

bool IsDatabaseCommand(const TCtlCommandLine& cl)
{
    return cl.command == QLatin1String("db") || cl.command == QLatin1String("records");
}

QString DatabaseUrl(const TCtlCommandLine& cl)
{
    if (!cl.database.isEmpty()) {
        if (const std::optional<QString> problem = DatabaseUrlProblem(cl.database))
            throw EUsage(QStringLiteral("--database: %1").arg(*problem));
        return cl.database;
    }
    // the window's file may be anything: one that is no text holds no key
    const TIniFile ini(SettingsFilePath(cl));
    if (!cl.settingsFile.isEmpty())
        CheckSettingsFile(ini, true);
    return DatabaseUrl(cl, ini);
}

QString DatabaseUrl(const TCtlCommandLine& cl, const TIniFile& ini)
{
    if (!cl.database.isEmpty())
        return DatabaseUrl(cl);
    const QString url = ProductionDatabaseUrl(ini);
    if (const std::optional<QString> problem = url.isEmpty() ? std::nullopt : DatabaseUrlProblem(url))
        throw EUsage(QStringLiteral("[Production] Database in %1: %2").arg(ini.FileName(), *problem));
    return url;
}

int RunDatabaseCommand(const TCtlCommandLine& cl, TCtlOutput& out)
{
    const QString url = DatabaseUrl(cl);
    if (url.isEmpty())
        throw EUsage(QStringLiteral("no production database: give --database URL or set [Production] Database in "
                                    "the settings file"));
    TProductionDatabase db(url);
    return cl.command == QLatin1String("db") ? Initialize(cl, out, db) : ListRecords(cl, out, db);
}

std::optional<QDate> RecordedWriteDate(const TCtlCommandLine& cl, const QString& serial)
{
    const QString url = DatabaseUrl(cl);
    if (url.isEmpty())
        return std::nullopt;
    TProductionDatabase db(url);
    const QList<TRecordRow> rows = db.Records({AppIDBytes(serial), std::nullopt});
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        if (row->state == QLatin1String("ok"))
            return row->time.date();
    throw EUsage(QStringLiteral("--serial: the production record of %1 holds no write of %2 that went through")
                     .arg(db.Name(), serial.toUpper()));
}
