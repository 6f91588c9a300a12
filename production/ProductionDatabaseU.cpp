#include "production/ProductionDatabaseU.h"

#include "files/IniFile.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSysInfo>

#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

namespace {
// The advisory lock that lets one set-up at a time look for the tables ("VYX4").
constexpr int SetUpLock = 0x56595834;
constexpr std::uint32_t LastSerialNumber = 0xFFFFFFFF;

// The table that says which schema the database holds is looked at before
// the rest, so a newer schema is refused before anything is written.
const char CreateSchema[] = R"(
CREATE TABLE vyx_schema (version integer NOT NULL);
INSERT INTO vyx_schema VALUES (%1);
CREATE TABLE vyx_serial_number (next bigint NOT NULL CHECK (next BETWEEN 0 AND %2 + 1));
INSERT INTO vyx_serial_number VALUES (%3);
CREATE TABLE vyx_write (
    id integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    time timestamptz NOT NULL DEFAULT now(),
    host text NOT NULL,
    station_user text NOT NULL,
    front_end text NOT NULL,
    transport text NOT NULL,
    port text NOT NULL,
    address smallint NOT NULL,
    serial_written text CHECK (serial_written ~ '^[0-9a-f]{8}$'),
    serial_read text CHECK (serial_read ~ '^[0-9a-f]{8}$'),
    firmware text,
    written_values jsonb NOT NULL,
    state text NOT NULL DEFAULT 'sent' CHECK (state IN ('sent', 'ok', 'failed', 'unknown')),
    failed_setting text,
    reason text,
    finished timestamptz
);
CREATE INDEX vyx_write_sent ON vyx_write (id) WHERE state = 'sent';
CREATE INDEX vyx_write_serial_written ON vyx_write (serial_written);
CREATE INDEX vyx_write_serial_read ON vyx_write (serial_read);
)";

// The row holds its station's advisory lock until it is finished; the
// server drops the lock with a lost connection, so a row still "sent"
// whose lock can be taken has nobody left to finish it. The locks' class is
// the table, so that the tables of two schemas keep apart.
const char MarkOrphans[] = "UPDATE vyx_write SET state = 'unknown', finished = now()"
                           " WHERE state = 'sent' AND pg_try_advisory_xact_lock('vyx_write'::regclass::oid::int, id)";

// The next serial number is a counter row rather than a sequence: taken in
// the transaction of the row it goes to, it is given back by one that fails,
// and a server that crashes skips none (a sequence skips up to 32). Its row
// lock makes the stations take their numbers one after the other. The text is
// as the module's registers take it: byte 0, the lowest of the counter, first.
const char InsertReserved[] = R"(
WITH taken AS (UPDATE vyx_serial_number SET next = next + 1 WHERE next <= $8 RETURNING next - 1 AS n)
INSERT INTO vyx_write (host, station_user, front_end, transport, port, address, written_values, serial_written)
SELECT $1, $2, $3, $4, $5, $6, $7, lpad(to_hex(n & 255), 2, '0') || lpad(to_hex((n >> 8) & 255), 2, '0')
                                 || lpad(to_hex((n >> 16) & 255), 2, '0') || lpad(to_hex(n >> 24), 2, '0')
FROM taken
RETURNING id, serial_written, pg_advisory_lock('vyx_write'::regclass::oid::int, id))";

const char InsertGiven[] = R"(
INSERT INTO vyx_write (host, station_user, front_end, transport, port, address, written_values, serial_written)
VALUES ($1, $2, $3, $4, $5, $6, $7, $8)
RETURNING id, serial_written, pg_advisory_lock('vyx_write'::regclass::oid::int, id))";

const char UpdateFinished[] = R"(
UPDATE vyx_write SET state = $2, failed_setting = $3, reason = $4, serial_read = $5, firmware = $6, finished = now()
WHERE id = $1 AND state IN ('sent', 'unknown')
RETURNING pg_advisory_unlock('vyx_write'::regclass::oid::int, id))";

const char SelectRows[] = R"(
SELECT id, (extract(epoch FROM time) * 1000)::bigint, host, station_user, front_end, transport, port, address,
       serial_written, serial_read, firmware, written_values, state, failed_setting, reason
FROM vyx_write
WHERE ($1::text IS NULL OR serial_written = $1 OR serial_read = $1)
  AND ($2::bigint IS NULL OR time >= to_timestamp($2::bigint / 1000.0))
ORDER BY id)";

QString UsedUp(const QString& database)
{
    return QStringLiteral("the production database %1 has handed out its last serial number, %2")
        .arg(database, SerialNumberText(AppIDFromNumber(LastSerialNumber)));
}

QByteArray Text(const QString& text)
{
    return text.isNull() ? QByteArray() : text.toUtf8();
}

QByteArray Number(qint64 n)
{
    return QByteArray::number(n);
}

QByteArray Serial(const std::optional<TAppID>& serial)
{
    return serial ? AppIDText(*serial).toLatin1() : QByteArray();
}

QString StationUser()
{
    const passwd* user = ::getpwuid(::geteuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(::geteuid());
}

// libpq's own words, first line: the rest is advice for its own tools.
QString FirstLine(const char* message)
{
    return QString::fromUtf8(message).section(u'\n', 0, 0).simplified();
}

QJsonValue OrNull(const std::optional<TAppID>& serial)
{
    return serial ? QJsonValue(SerialNumberText(*serial)) : QJsonValue(QJsonValue::Null);
}

QJsonValue OrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}
}

class TProductionDatabase::TResult {
public:
    explicit TResult(PGresult* result)
        : FResult(result, &PQclear)
    {
    }
    bool Ok() const
    {
        const ExecStatusType status = PQresultStatus(FResult.get());
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    }
    const PGresult* Get() const { return FResult.get(); }
    // The failure's SQLSTATE; empty for one of libpq's own.
    QByteArray State() const { return FResult ? PQresultErrorField(FResult.get(), PG_DIAG_SQLSTATE) : nullptr; }
    int Rows() const { return PQntuples(FResult.get()); }
    bool IsNull(int row, int column) const { return PQgetisnull(FResult.get(), row, column); }
    QString Text(int row, int column) const { return QString::fromUtf8(PQgetvalue(FResult.get(), row, column)); }
    qint64 Number(int row, int column) const { return QByteArray(PQgetvalue(FResult.get(), row, column)).toLongLong(); }
    std::optional<TAppID> Serial(int row, int column) const
    {
        return IsNull(row, column) ? std::nullopt : std::optional(AppIDBytes(Text(row, column)));
    }

private:
    std::unique_ptr<PGresult, void (*)(PGresult*)> FResult;
};

QString ProductionDatabaseUrl(const TIniFile& ini)
{
    return ini.ReadString(QStringLiteral("Production"), QStringLiteral("Database"), {});
}

std::optional<QString> DatabaseUrlProblem(const QString& url)
{
    // what the user typed may hold a password, and libpq quotes the part it stumbled on
    const QString authority = url.section(QLatin1String("://"), 1).section(u'/', 0, 0).section(u'?', 0, 0);
    const QString password = authority.section(u'@', 0, -2).section(u':', 1);
    auto masked = [&password](QString text) { return password.isEmpty() ? text : text.replace(password, "****"); };
    if (!url.startsWith(QLatin1String("postgresql://")) && !url.startsWith(QLatin1String("postgres://")))
        return masked(QStringLiteral("\"%1\" is no postgresql:// URL").arg(url));
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.toUtf8().constData(), &error);
    PQconninfoFree(options);
    if (!error)
        return std::nullopt;
    const QString why = FirstLine(error);
    PQfreemem(error);
    return masked(QStringLiteral("not a valid postgresql:// URL: %1").arg(why));
}

QJsonObject WrittenValues(const TReaderConfiguration& reader, const std::optional<TMasterConfiguration>& master)
{
    QJsonObject values{{"strikeTime", reader.strikeTime},
                       {"doorAjarDelay", reader.doorAjarDelay},
                       {"function", reader.readerFunction == 0 ? "handle" : "button"},
                       {"tamperSignal", reader.tamperSignal},
                       {"forcedDoorSignal", reader.forcedDoorSignal},
                       {"doorAjarSignal", reader.doorAjarSignal},
                       {"beep", reader.beep}};
    if (master) {
        values.insert("addCard", NormalizeCardNumber(master->addCard));
        values.insert("delCard", NormalizeCardNumber(master->deleteCard));
    }
    return values;
}

QJsonObject TRecordRow::ToJson() const
{
    return {{"id", id},
            {"time", time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs)},
            {"host", host},
            {"user", user},
            {"frontEnd", frontEnd},
            {"transport", transport},
            {"port", port},
            {"address", address},
            {"serialWritten", OrNull(serialWritten)},
            {"serialRead", OrNull(serialRead)},
            {"firmware", OrNull(firmware)},
            {"values", values},
            {"result", state},
            {"failedSetting", OrNull(failedSetting)},
            {"reason", OrNull(reason)}};
}

EProductionDatabase::EProductionDatabase(const QString& message)
    : std::runtime_error(message.toLocal8Bit().toStdString())
{
}

TProductionDatabase::TProductionDatabase(const QString& url)
    : FUrl(url.toUtf8())
{
}

TProductionDatabase::~TProductionDatabase()
{
    Close();
}

QString TProductionDatabase::Name() const
{
    if (!FConn)
        return {};
    const QString host = QString::fromUtf8(PQhost(FConn));
    return QStringLiteral("%1@%2:%3/%4")
        .arg(QString::fromUtf8(PQuser(FConn)), host.isEmpty() ? QStringLiteral("localhost") : host,
             QString::fromUtf8(PQport(FConn)), QString::fromUtf8(PQdb(FConn)));
}

void TProductionDatabase::Close()
{
    if (FConn)
        PQfinish(FConn);
    FConn = nullptr;
}

void TProductionDatabase::Open()
{
    Close();
    // bounds on every wait for the server, which the URL may set otherwise:
    // its own values come later and win
    const QByteArray application = QCoreApplication::applicationName().toUtf8();
    const char* const keys[] = {"connect_timeout",  "keepalives_idle", "keepalives_interval", "keepalives_count",
                                "tcp_user_timeout", "options",         "application_name",    "dbname",
                                nullptr};
    const char* const values[] = {"10",
                                  "5",
                                  "2",
                                  "3",
                                  "10000",
                                  "-c statement_timeout=10s",
                                  application.constData(),
                                  FUrl.constData(),
                                  nullptr};
    FConn = PQconnectdbParams(keys, values, 1);
    if (!FConn)
        throw EProductionDatabase(QStringLiteral("out of memory for the connection to the production database"));
    if (PQstatus(FConn) != CONNECTION_OK) {
        const QString why = QStringLiteral("cannot connect to the production database %1: %2")
                                .arg(Name(), FirstLine(PQerrorMessage(FConn)));
        Close();
        throw EProductionDatabase(why);
    }
    // the server's notices (an unlock of a lock a lost connection held) are no reason to speak
    PQsetNoticeProcessor(FConn, [](void*, const char*) {}, nullptr);
}

void TProductionDatabase::Connect()
{
    Open();
    try {
        const TResult version = Exec("SELECT max(version) FROM vyx_schema", {});
        Require(version);
        if (version.IsNull(0, 0))
            throw EProductionDatabase(
                QStringLiteral("the production database %1 has no schema version: run vyxctl db init").arg(Name()));
        if (version.Number(0, 0) > ProductionSchemaVersion)
            throw EProductionDatabase(QStringLiteral("the production database %1 has schema version %2, newer than this "
                                                     "program's %3: use a newer program")
                                          .arg(Name())
                                          .arg(version.Number(0, 0))
                                          .arg(ProductionSchemaVersion));
        // a login that may only read (the quality office's) leaves the marking to the stations
        const TResult marked = Exec(MarkOrphans, {});
        if (marked.State() != "42501")
            Require(marked);
    } catch (...) {
        Close();
        throw;
    }
}

TProductionDatabase::TResult TProductionDatabase::Exec(const char* sql, const QList<QByteArray>& params)
{
    if (params.isEmpty())
        return TResult(PQexec(FConn, sql));
    QList<const char*> values;
    for (const QByteArray& p : params)
        values << (p.isNull() ? nullptr : p.constData());
    return TResult(PQexecParams(FConn, sql, int(values.size()), nullptr, values.constData(), nullptr, nullptr, 0));
}

bool TProductionDatabase::Lost(const TResult& result) const
{
    // libpq's own failures carry no SQLSTATE; the server's last words on its
    // way down are of class 57P, a broken link of class 08
    const QByteArray state = result.State();
    return PQstatus(FConn) == CONNECTION_BAD || state.isEmpty() || state.startsWith("08") || state.startsWith("57P");
}

void TProductionDatabase::Require(const TResult& result)
{
    if (result.Ok())
        return;
    const PGresult* r = result.Get();
    const QString message = r && PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY)
                                ? QString::fromUtf8(PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY))
                                : FirstLine(PQerrorMessage(FConn));
    QString why;
    if (Lost(result))
        why = QStringLiteral("lost the connection to the production database %1: %2").arg(Name(), message);
    else if (result.State() == "57014")
        why = QStringLiteral("the production database %1 did not answer in time: %2").arg(Name(), message);
    else if (result.State() == "42P01")
        why = QStringLiteral("the production database %1 lacks this program's tables (%2): run vyxctl db init")
                  .arg(Name(), message);
    else
        why = QStringLiteral("the production database %1 refused: %2").arg(Name(), message);
    throw EProductionDatabase(why);
}

TProductionDatabase::TResult TProductionDatabase::Run(const char* sql, const QList<QByteArray>& params)
{
    const bool fresh = !FConn || PQstatus(FConn) != CONNECTION_OK;
    if (fresh)
        Connect();
    TResult result = Exec(sql, params);
    if (!result.Ok() && !fresh && Lost(result)) {
        // the server went away since the last call (restarted): once more on a new connection
        Connect();
        result = Exec(sql, params);
    }
    Require(result);
    return result;
}

void TProductionDatabase::Check()
{
    Run("SELECT 1", {});
}

bool TProductionDatabase::HasSchema()
{
    if (!FConn || PQstatus(FConn) != CONNECTION_OK)
        Open();
    const TResult exists = Exec("SELECT to_regclass('vyx_schema') IS NOT NULL", {});
    Require(exists);
    return exists.Text(0, 0) == QLatin1String("t");
}

bool TProductionDatabase::Initialize(const TAppID& first)
{
    Open();
    try {
        // two first set-ups at once: the second waits and then finds the first's tables
        Require(Exec("BEGIN", {}));
        Require(Exec("SELECT pg_advisory_xact_lock($1, 0)", {Number(SetUpLock)}));
        if (HasSchema()) {
            Require(Exec("ROLLBACK", {}));
            Connect(); // refuses a newer schema
            return false;
        }
        const QByteArray ddl = QString::fromLatin1(CreateSchema)
                                   .arg(ProductionSchemaVersion)
                                   .arg(LastSerialNumber)
                                   .arg(AppIDNumber(first))
                                   .toLatin1();
        Require(Exec(ddl.constData(), {}));
        Require(Exec("COMMIT", {}));
    } catch (...) {
        Close(); // the server rolls back what was begun
        throw;
    }
    Close();
    return true;
}

TAppID TProductionDatabase::NextSerial()
{
    const TResult next = Run("SELECT next FROM vyx_serial_number", {});
    if (next.Number(0, 0) > qint64(LastSerialNumber))
        throw EProductionDatabase(UsedUp(Name()));
    return AppIDFromNumber(std::uint32_t(next.Number(0, 0)));
}

TReservation TProductionDatabase::Insert(const TProductionWrite& write, const char* sql, const QList<QByteArray>& extra)
{
    const TResult row = Run(sql, QList<QByteArray>{Text(QSysInfo::machineHostName()), Text(StationUser()),
                                                   Text(write.frontEnd), Text(write.transport), Text(write.port),
                                                   Number(write.address),
                                                   QJsonDocument(write.values).toJson(QJsonDocument::Compact)}
                                     + extra);
    if (row.Rows() == 0)
        throw EProductionDatabase(UsedUp(Name()));
    return {row.Number(0, 0), AppIDBytes(row.Text(0, 1))};
}

TReservation TProductionDatabase::Reserve(const TProductionWrite& write)
{
    return Insert(write, InsertReserved, {Number(LastSerialNumber)});
}

qint64 TProductionDatabase::Record(const TProductionWrite& write, const std::optional<TAppID>& serial)
{
    return Insert(write, InsertGiven, {Serial(serial)}).id;
}

void TProductionDatabase::Finish(qint64 id, const TWriteOutcome& result)
{
    const TResult row = Run(UpdateFinished, {Number(id), result.ok ? "ok" : "failed",
                                             result.ok ? QByteArray() : Text(result.failedSetting),
                                             result.ok ? QByteArray() : Text(result.reason), Serial(result.serialRead),
                                             result.firmware.isEmpty() ? QByteArray() : Text(result.firmware)});
    if (row.Rows() == 0)
        throw EProductionDatabase(
            QStringLiteral("the production database %1 holds no open write %2").arg(Name()).arg(id));
}

QList<TRecordRow> TProductionDatabase::Records(const TRecordFilter& filter)
{
    const TResult rows =
        Run(SelectRows, {Serial(filter.serial), filter.since ? Number(filter.since->toMSecsSinceEpoch()) : QByteArray()});
    QList<TRecordRow> records;
    for (int i = 0; i < rows.Rows(); ++i) {
        TRecordRow row;
        row.id = rows.Number(i, 0);
        row.time = QDateTime::fromMSecsSinceEpoch(rows.Number(i, 1));
        row.host = rows.Text(i, 2);
        row.user = rows.Text(i, 3);
        row.frontEnd = rows.Text(i, 4);
        row.transport = rows.Text(i, 5);
        row.port = rows.Text(i, 6);
        row.address = int(rows.Number(i, 7));
        row.serialWritten = rows.Serial(i, 8);
        row.serialRead = rows.Serial(i, 9);
        row.firmware = rows.Text(i, 10);
        row.values = QJsonDocument::fromJson(rows.Text(i, 11).toUtf8()).object();
        row.state = rows.Text(i, 12);
        row.failedSetting = rows.Text(i, 13);
        row.reason = rows.Text(i, 14);
        records << row;
    }
    return records;
}
