#include "session/ProductionRowU.h"

#include "link/CommThreadU.h"
#include "session/ModuleSessionU.h"
#include "session/WriteRecordU.h"

TProductionWrite ProductionWrite(const QString& frontEnd, TModuleSession& session, const TReaderConfiguration& reader,
                                 const std::optional<TMasterConfiguration>& master)
{
    TCommThread& link = session.Link();
    return {frontEnd, link.LANMode() ? QStringLiteral("tcp") : QStringLiteral("serial"), LinkEndpoint(link),
            session.Address(), WrittenValues(reader, master)};
}

namespace {
TWriteOutcome WriteOutcome(const TWriteResult& result, const std::optional<TModuleIdentity>& readBack)
{
    TWriteOutcome outcome;
    outcome.ok = result.Succeeded();
    if (result.failure) {
        outcome.failedSetting = result.failure->setting;
        outcome.reason = result.failure->reason;
    }
    if (readBack && readBack->serialNumber)
        outcome.serialRead = AppIDBytes(*readBack->serialNumber);
    if (readBack && readBack->firmware)
        outcome.firmware = *readBack->firmware;
    return outcome;
}
}

qint64 TakeRow(TProductionDatabase& database, const TProductionWrite& write,
               std::optional<TMasterConfiguration>& master, bool next)
{
    if (master && next) {
        const TReservation reservation = database.Reserve(write);
        master->appID = reservation.serial;
        return reservation.id;
    }
    return database.Record(write, master ? std::optional<TAppID>(master->appID) : std::nullopt);
}

QString FinishRow(TProductionDatabase& database, qint64 row, const TWriteResult& result,
                  const std::optional<TModuleIdentity>& readBack)
{
    try {
        database.Finish(row, WriteOutcome(result, readBack));
        return {};
    } catch (const EProductionDatabase& e) {
        // the row stays "sent" and becomes "unknown" once this station's connection is gone
        return QStringLiteral("the write's row was not finished and becomes \"unknown\": %1")
            .arg(QString::fromLocal8Bit(e.what()));
    }
}

TProductionRows::TProductionRows(TModuleSession& session, const QString& url)
    : QObject(&session)
    , FSession(session)
    , FDatabase(url)
{
    connect(&session, &TModuleSession::WriteFinished, this, [this](const TWriteResult& result) {
        if (FUnderWay.empty())
            return;
        const qint64 row = FUnderWay.front();
        FUnderWay.pop_front();
        if (!result.Succeeded()) {
            Finish(row, result, std::nullopt);
            return;
        }
        FReadingBack.emplace_back(row, result);
        FSession.ReadIdentity();
    });
    connect(&session, &TModuleSession::IdentitySettled, this, [this](const TModuleIdentity& identity) {
        for (const auto& [row, result] : std::exchange(FReadingBack, {}))
            Finish(row, result, identity);
    });
    // no answer will come: the rows are finished without what it would have said
    connect(&session, &TModuleSession::Closed, this, [this] {
        for (const auto& [row, result] : std::exchange(FReadingBack, {}))
            Finish(row, result, std::nullopt);
    });
}

bool TProductionRows::Write(const TReaderConfiguration& reader, std::optional<TMasterConfiguration>& master)
{
    const qint64 row = TakeRow(FDatabase, ProductionWrite(QStringLiteral("window"), FSession, reader, master), master,
                               true);
    if (!FSession.Write(reader, master)) {
        TWriteResult notSent;
        notSent.failure = TWriteFailure{0, 0, {}, QStringLiteral("Nothing was sent: the link is not open")};
        Finish(row, notSent, std::nullopt);
        return false;
    }
    FUnderWay.push_back(row);
    return true;
}

void TProductionRows::Finish(qint64 row, const TWriteResult& result, const std::optional<TModuleIdentity>& readBack)
{
    if (const QString unfinished = FinishRow(FDatabase, row, result, readBack); !unfinished.isEmpty())
        emit Failed(unfinished);
}
