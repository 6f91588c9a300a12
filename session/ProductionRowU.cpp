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

TProductionRows::TProductionRows(TModuleSession& session, const QString& url)
    : QObject(&session)
    , FSession(session)
    , FDatabase(url)
{
    connect(&session, &TModuleSession::WriteFinished, this, [this](const TWriteResult& result) {
        if (!FRow)
            return;
        if (!result.Succeeded()) {
            Finish(result, std::nullopt);
            return;
        }
        FWritten = result;
        FSession.ReadIdentity();
    });
    connect(&session, &TModuleSession::IdentitySettled, this, [this](const TModuleIdentity& identity) {
        if (FWritten)
            Finish(*FWritten, identity);
    });
    // no answer will come: the row is finished without what it would have said
    connect(&session, &TModuleSession::Closed, this, [this] {
        if (FWritten)
            Finish(*FWritten, std::nullopt);
    });
}

void TProductionRows::Begin(const TReaderConfiguration& reader, std::optional<TMasterConfiguration>& master, bool next)
{
    const TProductionWrite write = ProductionWrite(QStringLiteral("window"), FSession, reader, master);
    if (master && next) {
        const TReservation reservation = FDatabase.Reserve(write);
        master->appID = reservation.serial;
        FRow = reservation.id;
    } else {
        FRow = FDatabase.Record(write, master ? std::optional<TAppID>(master->appID) : std::nullopt);
    }
    FWritten.reset();
}

void TProductionRows::Finish(const TWriteResult& result, const std::optional<TModuleIdentity>& readBack)
{
    const qint64 row = *std::exchange(FRow, std::nullopt);
    FWritten.reset();
    try {
        FDatabase.Finish(row, WriteOutcome(result, readBack));
    } catch (const EProductionDatabase& e) {
        // the row stays "sent" and becomes "unknown" once this station's connection is gone
        emit Failed(QString::fromLocal8Bit(e.what()));
    }
}
