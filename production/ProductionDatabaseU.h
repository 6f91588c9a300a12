#pragma once
// The record of a production line of several stations, in PostgreSQL: one
// counter hands out the modules' serial numbers, one table holds every
// write. A write takes its row (and its number) in one statement before its
// first frame goes out, and the station finishes the row after the last reply.
//
// A row that its station never finished stays "sent" while the station's
// connection lives (the row's advisory lock, which the server drops with the
// connection), and becomes "unknown" at the next connection of any station:
// the station lost the database before it could say how the write ended.

#include "module/CardNumbersU.h"
#include "module/ConfigurationWriteU.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <stdexcept>

class TIniFile;

// The database cannot be used, with the reason and the database named
// (never its password): unreachable, login refused, no tables of ours, a
// newer schema, the serial numbers used up, the connection lost.
class EProductionDatabase : public std::runtime_error {
public:
    explicit EProductionDatabase(const QString& message);
};

// The schema this program reads and writes; a database of a newer one is refused.
constexpr int ProductionSchemaVersion = 1;

// "[Production] Database" of the settings file; empty when not set. The
// program reads it and never writes it.
QString ProductionDatabaseUrl(const TIniFile& ini);
// Why the text is not a PostgreSQL connection URI ("postgresql://..."), or
// nothing when it is one.
std::optional<QString> DatabaseUrlProblem(const QString& url);

// Every value a write sends but the serial number, by name, for the record.
QJsonObject WrittenValues(const TReaderConfiguration& reader, const std::optional<TMasterConfiguration>& master);

// What a write is, known before its first frame goes out.
struct TProductionWrite {
    QString frontEnd;   // "window" or "vyxctl"
    QString transport;  // "tcp" or "serial"
    QString port;       // "127.0.0.1:10000", "/dev/ttyUSB0 (9-bit)"
    int address = 1;    // the bus address
    QJsonObject values; // WrittenValues
};

// How a write ended.
struct TWriteOutcome {
    bool ok = false;
    QString failedSetting; // when failed: the request that went wrong, in words
    QString reason;        // when failed: why
    std::optional<TAppID> serialRead;
    QString firmware; // "2.5"; empty when not read
};

struct TReservation {
    qint64 id = 0;
    TAppID serial{};
};

struct TRecordRow {
    qint64 id = 0;
    QDateTime time; // when the row was taken
    QString host;
    QString user;
    QString frontEnd;
    QString transport;
    QString port;
    int address = 0;
    std::optional<TAppID> serialWritten;
    std::optional<TAppID> serialRead;
    QString firmware;
    QJsonObject values;
    QString state; // "sent", "ok", "failed" or "unknown"
    QString failedSetting;
    QString reason;

    QJsonObject ToJson() const;
};

struct TRecordFilter {
    std::optional<TAppID> serial; // written or read back
    std::optional<QDateTime> since;
};

struct pg_conn;

// One connection, used by one thread at a time. Every call connects when
// there is no connection yet (or it was lost) and then checks the schema;
// it waits at most about ten seconds to connect and ten for a statement.
// Each raises EProductionDatabase; nothing is written to a database it
// refuses.
class TProductionDatabase {
public:
    // url: a PostgreSQL connection URI; not yet connected.
    explicit TProductionDatabase(const QString& url);
    TProductionDatabase(const TProductionDatabase&) = delete;
    TProductionDatabase& operator=(const TProductionDatabase&) = delete;
    ~TProductionDatabase();

    // Connects and checks the schema, to refuse a write early.
    void Check();
    // Whether the database holds this program's tables, of any version.
    bool HasSchema();
    // Creates the schema and the serial-number counter, which starts at
    // first. false when the schema was there already (first is then not
    // taken: the numbering starts once).
    bool Initialize(const TAppID& first);
    // The serial number the counter hands out next.
    TAppID NextSerial();

    // The next serial number and the write's row in state "sent", in one
    // transaction: a number is never handed out twice, and none is skipped.
    TReservation Reserve(const TProductionWrite& write);
    // The write's row in state "sent" for a write with a serial number of
    // its own (or none: not a master write); returns the row's id.
    qint64 Record(const TProductionWrite& write, const std::optional<TAppID>& serial);
    // Sets the row's result; a row another station marked "unknown" in the
    // meantime takes it too.
    void Finish(qint64 id, const TWriteOutcome& result);

    // The rows in the order they were taken.
    QList<TRecordRow> Records(const TRecordFilter& filter);
    // "line@db.example:5432/production"
    QString Name() const;

private:
    class TResult;
    void Open();
    // Open, then the schema's check and the rows of lost connections marked "unknown".
    void Connect();
    void Close();
    TResult Exec(const char* sql, const QList<QByteArray>& params);
    // The statement failed because the connection is gone.
    bool Lost(const TResult& result) const;
    // Raises the statement's failure in words.
    void Require(const TResult& result);
    // Runs a statement, connecting first when needed; on a connection found
    // lost that had served before, connects again and runs it once more (a
    // lost statement left nothing, or its row, which then turns "unknown").
    TResult Run(const char* sql, const QList<QByteArray>& params);
    TReservation Insert(const TProductionWrite& write, const char* sql, const QList<QByteArray>& extra);

    QByteArray FUrl;
    pg_conn* FConn = nullptr;
};
