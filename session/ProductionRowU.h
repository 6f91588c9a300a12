#pragma once
// The window's writes in the production database of a line of several
// stations: before a Write goes out, its row is taken in state "sent" (with
// the next serial number of the line for a master write); once the module
// has said how it went and what serial number it now gives back, the row is
// finished. The database's waits are bounded (see TProductionDatabase).

#include "base/MainThreadQueue.h"
#include "production/ProductionDatabaseU.h"
#include "session/ModuleSessionU.h"

#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <mutex>
#include <set>
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
    // Waits for the rows still to be finished: one left "sent" would turn "unknown".
    ~TProductionRows() override;

    // The session's Write, once its row is taken; a master write is numbered
    // by the line. The database is asked on a thread of its own, so a server
    // that does not answer (up to its time-outs) holds no window. Then
    // Started, or Refused and nothing is sent. A link closed meanwhile takes
    // no write: its row is finished as failed, and nothing is said.
    void Write(const TReaderConfiguration& reader, const std::optional<TMasterConfiguration>& master);
    // A row is being taken for a Write.
    bool TakingRow() const { return FTaking > 0; }

signals:
    // The session has the write; master with the line's serial number.
    void Started(const std::optional<TMasterConfiguration>& master);
    // The write did not go out, and why.
    void Refused(const QString& why);
    // A finished write whose row the database did not take, and why.
    void Failed(const QString& why);

private:
    class TDatabaseThread;

    void RowTaken(qint64 row, int address, const TReaderConfiguration& reader,
                  const std::optional<TMasterConfiguration>& master);
    void Finish(qint64 row, const TWriteResult& result, const std::optional<TModuleIdentity>& readBack);

    TModuleSession& FSession;
    // the database thread's answers, on this one
    TMainThreadQueue FAnswers;
    int FTaking = 0;
    // rows taken whose answer has not reached this thread yet
    std::mutex FUndeliveredLock;
    std::set<qint64> FUndelivered;
    // the rows of the batches under way, in the order the batches end
    std::deque<qint64> FUnderWay;
    // the rows of batches through, waiting for the serial number read back
    std::vector<std::pair<qint64, TWriteResult>> FReadingBack;
    // last: it goes first, finishing what it was given while the rest is still there
    std::unique_ptr<TDatabaseThread> FDatabase;
};
