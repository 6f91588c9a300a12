#pragma once
// The window's writes in the production database of a line of several
// stations: before a Write goes out, its row is taken in state "sent" (with
// the next serial number of the line for a master write); once the module
// has said how it went and what serial number it now gives back, the row is
// finished. The database's waits are bounded (see TProductionDatabase).

#include "production/ProductionDatabaseU.h"
#include "session/ModuleSessionU.h"

#include <QObject>
#include <QString>

#include <deque>
#include <optional>
#include <utility>
#include <vector>


// What the database is told of a write from this front end ("window",
// "vyxctl") before it goes out, and how it ended.
TProductionWrite ProductionWrite(const QString& frontEnd, TModuleSession& session, const TReaderConfiguration& reader,
                                 const std::optional<TMasterConfiguration>& master);
// The write's row in state "sent", before its first frame; a master write
// numbered by the line (next) takes the line's next serial number into
// master. Raises EProductionDatabase: the write must not go.
qint64 TakeRow(TProductionDatabase& database, const TProductionWrite& write,
               std::optional<TMasterConfiguration>& master, bool next);
// Finishes the row with how the write ended; a database lost since leaves
// the row to turn "unknown", and that is said in the text returned (empty
// when the row is finished).
QString FinishRow(TProductionDatabase& database, qint64 row, const TWriteResult& result,
                  const std::optional<TModuleIdentity>& readBack);

class TProductionRows : public QObject {
    Q_OBJECT
public:
    // A child of the session: it never outlives the session it listens to.
    TProductionRows(TModuleSession& session, const QString& url);

    // The session's Write, with its row taken first; a master write is
    // numbered by the line: master's serial number becomes the line's next
    // one. Raises EProductionDatabase, and then nothing is sent. false as
    // the session's Write, with the row finished as failed.
    bool Write(const TReaderConfiguration& reader, std::optional<TMasterConfiguration>& master);

signals:
    void Failed(const QString& why);

private:
    void Finish(qint64 row, const TWriteResult& result, const std::optional<TModuleIdentity>& readBack);

    TModuleSession& FSession;
    TProductionDatabase FDatabase;
    // the rows of the batches under way, in the order the batches end
    std::deque<qint64> FUnderWay;
    // the rows of batches through, waiting for the serial number read back
    std::vector<std::pair<qint64, TWriteResult>> FReadingBack;
};
