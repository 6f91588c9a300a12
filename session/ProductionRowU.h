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

#include <memory>
#include <optional>


// What the database is told of a write from this front end ("window",
// "vyxctl") before it goes out, and how it ended.
TProductionWrite ProductionWrite(const QString& frontEnd, TModuleSession& session, const TReaderConfiguration& reader,
                                 const std::optional<TMasterConfiguration>& master);
TWriteOutcome WriteOutcome(const TWriteResult& result, const std::optional<TModuleIdentity>& readBack);

class TProductionRows : public QObject {
    Q_OBJECT
public:
    // A child of the session: it never outlives the session it listens to.
    TProductionRows(TModuleSession& session, const QString& url);

    // The row of the Write about to go out; for a master write numbered by
    // the line (next), master's serial number becomes the line's next one.
    // Raises EProductionDatabase: the Write must not go.
    void Begin(const TReaderConfiguration& reader, std::optional<TMasterConfiguration>& master, bool next);

signals:
    void Failed(const QString& why);

private:
    void Finish(const TWriteResult& result, const std::optional<TModuleIdentity>& readBack);

    TModuleSession& FSession;
    TProductionDatabase FDatabase;
    std::optional<qint64> FRow;     // taken, its Write under way
    std::optional<TWriteResult> FWritten; // through, waiting for the serial number
};
