#include "session/ProductionRowU.h"

#include "link/CommThreadU.h"
#include "session/ModuleSessionU.h"
#include "session/WriteRecordU.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

TProductionWrite ProductionWrite(const QString& frontEnd, TModuleSession& session, const TReaderConfiguration& reader,
                                 const std::optional<TMasterConfiguration>& master)
{
    TCommThread& link = session.Link();
    return {frontEnd, link.LANMode() ? QStringLiteral("tcp") : QStringLiteral("serial"), LinkEndpoint(link),
            session.Address(), WrittenValues(reader, master)};
}

namespace {
TWriteResult NothingSent(const QString& why)
{
    TWriteResult result;
    result.failure = TWriteFailure{0, 0, {}, QStringLiteral("Nothing was sent: %1").arg(why)};
    return result;
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

// The database's calls, one after another on a thread of their own.
class TProductionRows::TDatabaseThread {
public:
    // ending: the owner is going, and no answer of the call will be heard
    using TCall = std::function<void(TProductionDatabase&, const std::atomic<bool>& ending)>;

    explicit TDatabaseThread(const QString& url)
        : FDatabase(url)
        , FThread([this] { Run(); })
    {
        // named for top -H and gdb
        ::pthread_setname_np(FThread.native_handle(), "vyx database");
    }
    // Runs the calls still waiting, then ends the thread.
    ~TDatabaseThread()
    {
        {
            std::lock_guard guard(FLock);
            FEnding = true;
        }
        FPosted.notify_one();
        FThread.join();
    }
    void Post(TCall call)
    {
        {
            std::lock_guard guard(FLock);
            FCalls.push_back(std::move(call));
        }
        FPosted.notify_one();
    }

private:
    void Run()
    {
        std::unique_lock guard(FLock);
        for (;;) {
            FPosted.wait(guard, [this] { return FEnding || !FCalls.empty(); });
            if (FCalls.empty())
                return;
            const TCall call = std::move(FCalls.front());
            FCalls.pop_front();
            guard.unlock();
            call(FDatabase, FEnding);
            guard.lock();
        }
    }

    TProductionDatabase FDatabase; // this thread's alone
    std::mutex FLock;
    std::condition_variable FPosted;
    std::deque<TCall> FCalls;
    std::atomic<bool> FEnding = false; // set under FLock, for the wait
    std::thread FThread; // last: it starts once the rest is there
};

TProductionRows::TProductionRows(TModuleSession& session, const QString& url)
    : QObject(&session)
    , FSession(session)
    , FDatabase(std::make_unique<TDatabaseThread>(url))
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

TProductionRows::~TProductionRows()
{
    // after the calls before it: the rows taken for writes that will now never go out
    FDatabase->Post([this](TProductionDatabase& database, const std::atomic<bool>&) {
        std::lock_guard guard(FUndeliveredLock);
        for (const qint64 row : FUndelivered)
            FinishRow(database, row, NothingSent(QStringLiteral("the program ended")), std::nullopt);
    });
}

void TProductionRows::Write(const TReaderConfiguration& reader, const std::optional<TMasterConfiguration>& master)
{
    const TProductionWrite write = ProductionWrite(QStringLiteral("window"), FSession, reader, master);
    ++FTaking;
    FDatabase->Post([this, write, reader, master = master](TProductionDatabase& database,
                                                           const std::atomic<bool>& ending) mutable {
        // the window went before the write could: no number is taken for it
        if (ending)
            return;
        try {
            const qint64 row = TakeRow(database, write, master, true);
            {
                std::lock_guard guard(FUndeliveredLock);
                FUndelivered.insert(row);
            }
            FAnswers.Post([this, row, address = write.address, reader, master] {
                --FTaking;
                RowTaken(row, address, reader, master);
            });
        } catch (const std::exception& e) {
            FAnswers.Post([this, why = QString::fromLocal8Bit(e.what())] {
                --FTaking;
                emit Refused(why);
            });
        }
    });
}

void TProductionRows::RowTaken(qint64 row, int address, const TReaderConfiguration& reader,
                               const std::optional<TMasterConfiguration>& master)
{
    {
        std::lock_guard guard(FUndeliveredLock);
        FUndelivered.erase(row);
    }
    // the row names the module the technician chose; another one is not written under it
    if (FSession.Address() != address) {
        const TWriteResult notSent = NothingSent(
            QStringLiteral("the bus address changed from %1 to %2 while the line's database was asked")
                .arg(address)
                .arg(FSession.Address()));
        Finish(row, notSent, std::nullopt);
        emit Refused(notSent.failure->reason);
        return;
    }
    if (!FSession.Write(reader, master)) {
        Finish(row, NothingSent(QStringLiteral("the link is not open")), std::nullopt);
        return;
    }
    FUnderWay.push_back(row);
    emit Started(master);
}

void TProductionRows::Finish(qint64 row, const TWriteResult& result, const std::optional<TModuleIdentity>& readBack)
{
    FDatabase->Post([this, row, result, readBack](TProductionDatabase& database, const std::atomic<bool>&) {
        if (QString unfinished = FinishRow(database, row, result, readBack); !unfinished.isEmpty())
            FAnswers.Post([this, why = std::move(unfinished)] { emit Failed(why); });
    });
}
