#include "tools/vyxctl/CtlCommands.h"

#include "production/ProductionDatabaseU.h"
#include "tools/vyxctl/CtlDatabase.h"

#include "files/IniFile.h"
#include "files/SettingsLockU.h"
#include "link/CommThreadU.h"
#include "module/CardNumbersU.h"
#include "module/ConfigurationWriteU.h"
#include "module/ModuleRepliesU.h"
#include "session/ModuleSessionU.h"
#include "session/ProductionRowU.h"
#include "session/SessionEventsU.h"
#include "session/WriteRecordU.h"
#include "tools/vyxctl/CtlOutput.h"
#include "tools/vyxctl/CtlScan.h"
#include "tools/vyxctl/CtlSession.h"
#ifdef VYX_CTL_CERTIFICATE
#include "tools/vyxctl/CtlCertificate.h"
#endif

#include <QJsonObject>
#include <QScopeGuard>

#include <memory>
#include <optional>

namespace {
using TWait = TCtlSession::TWait;
using ModuleReplies::Flag::CardRead;

constexpr int DefaultAssignWaitS = 5;
constexpr int DefaultCardWaitS = 60;

QString Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

QString OnOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

QString StatusText(int address, const ModuleReplies::TModuleStatus& s)
{
    using namespace ModuleReplies::Flag;
    return QStringLiteral("address %1: relay %2, input 1 %3, input 2 %4, tamper %5, forced door %6, door ajar %7, "
                          "last card %8, code %9%10")
        .arg(address)
        .arg(OnOff(s.Has(Relay)), OnOff(s.Has(Input1)), OnOff(s.Has(Input2)), OnOff(s.Has(Tamper)),
             OnOff(s.Has(ForcedDoor)), OnOff(s.Has(DoorAjar)), Hex(s.card),
             Hex(QByteArray(1, char(s.code.value_or(0)))),
             s.Has(CardRead) ? QStringLiteral(" (new)") : QString());
}

QJsonObject StatusObject(int address, const ModuleReplies::TModuleStatus& s)
{
    using namespace ModuleReplies::Flag;
    return {{"address", address},         {"relay", s.Has(Relay)},         {"input1", s.Has(Input1)},
            {"input2", s.Has(Input2)},    {"tamper", s.Has(Tamper)},       {"forcedDoor", s.Has(ForcedDoor)},
            {"doorAjar", s.Has(DoorAjar)}, {"cardRead", s.Has(CardRead)}, {"lastCard", Hex(s.card)},
            {"code", Hex(QByteArray(1, char(s.code.value_or(0))))}};
}

QString NoAnswerAt(TCtlSession& s)
{
    return QStringLiteral("no answer from the module at address %1 on %2").arg(s.Address()).arg(s.Where());
}

// What one reply of the module said instead of answering.
QString BadReplyAt(TCtlSession& s, const QString& reason)
{
    return QStringLiteral("the module at address %1 on %2 replied, but: %3").arg(s.Address()).arg(s.Where(), reason);
}

// The longest a few requests can take at the link's pace, with room to spare;
// only a link that stalls reaches it.
int RequestsWaitMs(TCtlSession& s, int requests)
{
    const TLinkTiming& t = s.Link().Timing();
    return int((requests + 2) * (t.sendInterval + t.replyTimeout).count()) + 2000;
}

// What a wait that did not end in Done means for the exit status.
int Failed(TCtlSession& s, TWait wait, TCtlOutput& out, const QString& noAnswer)
{
    if (wait == TWait::Interrupted) {
        out.Error(QStringLiteral("interrupted"));
        return CtlExit::Interrupted;
    }
    out.Error(wait == TWait::LinkLost ? s.LostReason() : noAnswer);
    return CtlExit::NoAnswer;
}

// The first status reply, a silence or a reply that failed its check.
int Status(TCtlSession& s, TCtlOutput& out)
{
    QObject scope;
    std::optional<ModuleReplies::TModuleStatus> status;
    QString failure;
    TModuleSession& m = s.Module();
    QObject::connect(&m, &TModuleSession::StatusReceived, &scope, [&](const auto& st) { status = st; });
    QObject::connect(&m, &TModuleSession::TimedOut, &scope, [&] { failure = NoAnswerAt(s); });
    QObject::connect(&m, &TModuleSession::BadReply, &scope, [&](const QString& why) { failure = BadReplyAt(s, why); });
    const TWait wait = s.WaitFor([&] { return status || !failure.isEmpty(); }, RequestsWaitMs(s, 1));
    if (!status)
        return Failed(s, wait, out, failure.isEmpty() ? NoAnswerAt(s) : failure);
    out.Result(StatusText(s.Address(), *status), StatusObject(s.Address(), *status));
    return CtlExit::Done;
}

// Asks who the module is and waits until every request is settled.
std::optional<TModuleIdentity> ReadIdentity(TCtlSession& s, QString& badReply, TWait& wait)
{
    QObject scope;
    std::optional<TModuleIdentity> settled;
    TModuleSession& m = s.Module();
    QObject::connect(&m, &TModuleSession::IdentitySettled, &scope, [&](const TModuleIdentity& i) { settled = i; });
    QObject::connect(&m, &TModuleSession::BadReply, &scope, [&](const QString& why) { badReply = why; });
    m.ReadIdentity();
    wait = s.WaitFor([&] { return settled.has_value(); }, RequestsWaitMs(s, 5));
    return settled;
}

int Info(TCtlSession& s, TCtlOutput& out)
{
    QString badReply;
    TWait wait;
    const std::optional<TModuleIdentity> identity = ReadIdentity(s, badReply, wait);
    if (!identity || !identity->complete)
        return Failed(s, wait, out, badReply.isEmpty() ? NoAnswerAt(s) : BadReplyAt(s, badReply));
    const QString firmware = identity->firmware.value_or(QStringLiteral("NA"));
    const QString serial = identity->serialNumber.value_or(QStringLiteral("NA"));
    out.Result(QStringLiteral("address %1: firmware %2, serial number %3").arg(s.Address()).arg(firmware, serial),
               {{"address", s.Address()}, {"firmware", firmware}, {"serialNumber", serial}});
    return CtlExit::Done;
}

// -1: until interrupted
int WatchSeconds(const TCtlCommandLine& cl)
{
    return cl.Has("--seconds") ? WholeNumber("--seconds", cl.options["--seconds"], 1, 86400 * 365) : -1;
}

// Prints each change and each card as it comes; a silence or a bad reply
// once per run of them. Nothing is kept but the last state shown.
int Watch(TCtlSession& s, TCtlOutput& out, int seconds)
{
    QObject scope;
    std::optional<std::uint8_t> shownFlags;
    bool quiet = false; // a silence or a bad reply said, until the next status
    TModuleSession& m = s.Module();
    // --json: the event log's lines, as the window's log holds them
    std::optional<TSessionEventLog> events;
    if (out.Json()) {
        events.emplace(m);
        QObject::connect(&*events, &TSessionEventLog::EventAdded, &scope,
                         [&](const TSessionEvent& e) { out.Result(e.ToText(), e.ToJson()); });
    }
    QObject::connect(&m, &TModuleSession::StatusReceived, &scope, [&](const ModuleReplies::TModuleStatus& status) {
        quiet = false;
        const std::uint8_t inputs = status.flags & ~CardRead;
        if (status.Has(CardRead) || shownFlags != inputs) {
            if (!events)
                out.Result(StatusText(s.Address(), status), StatusObject(s.Address(), status));
            shownFlags = inputs;
        }
    });
    auto once = [&](const QString& text) {
        if (!quiet)
            out.Error(text);
        quiet = true;
    };
    QObject::connect(&m, &TModuleSession::TimedOut, &scope, [&] { once(NoAnswerAt(s)); });
    QObject::connect(&m, &TModuleSession::BadReply, &scope, [&](const QString& why) { once(BadReplyAt(s, why)); });
    const TWait wait = s.WaitFor([] { return false; }, seconds < 0 ? -1 : seconds * 1000);
    if (wait == TWait::Interrupted || wait == TWait::LinkLost)
        return Failed(s, wait, out, {});
    // a watch that never saw the module failed, as a status poll would
    if (shownFlags)
        return CtlExit::Done;
    once(NoAnswerAt(s));
    return CtlExit::NoAnswer;
}

std::uint8_t ByteOption(const TCtlCommandLine& cl, const char* name, int stored)
{
    return std::uint8_t(cl.Has(name) ? WholeNumber(name, cl.options[name], 0, 255) : stored);
}

bool Choice(const TCtlCommandLine& cl, const char* name, const char* yes, const char* no, bool stored)
{
    if (!cl.Has(name))
        return stored;
    const QString v = cl.options[name];
    if (v != QLatin1String(yes) && v != QLatin1String(no))
        throw EUsage(QStringLiteral("%1: \"%2\" is neither %3 nor %4").arg(name, v, yes, no));
    return v == QLatin1String(yes);
}

// fromDatabase: "--app-id next" takes its number from the production
// database, once the write is under way.
std::optional<TMasterConfiguration> MasterOptions(const TCtlCommandLine& cl, const TStoredSettings& stored,
                                                  bool fromDatabase)
{
    const bool any = cl.Has("--app-id") || cl.Has("--add-card") || cl.Has("--del-card");
    if (!cl.Has("--master")) {
        if (any)
            throw EUsage(QStringLiteral("--app-id, --add-card and --del-card need --master"));
        return std::nullopt;
    }
    for (const char* name : {"--app-id", "--add-card", "--del-card"})
        if (!cl.Has(name))
            throw EUsage(QStringLiteral("--master needs %1").arg(name));
    QString appID = cl.options["--app-id"];
    if (appID == QLatin1String("next") && fromDatabase) {
        appID = QStringLiteral("00000000");
    } else if (appID == QLatin1String("next")) {
        appID = stored.lastAppID;
        if (!IsValidAppID(appID))
            throw EUsage(QStringLiteral("--app-id next: the settings file holds no serial number of 8 hex digits "
                                        "(\"%1\")").arg(appID));
    } else if (!IsValidAppID(appID)) {
        throw EUsage(QStringLiteral("--app-id: \"%1\" is not 8 hex digits").arg(appID));
    }
    const QString add = cl.options["--add-card"];
    const QString del = cl.options["--del-card"];
    for (const QString& card : {add, del})
        if (!IsValidCardNumber(card))
            throw EUsage(QStringLiteral("card \"%1\" is not 1 to 16 hex digits").arg(card));
    if (add == del)
        throw EUsage(QStringLiteral("the \"+\" and \"-\" cards are the same"));
    return TMasterConfiguration{AppIDBytes(appID), add, del};
}

TReaderConfiguration ReaderOptions(const TCtlCommandLine& cl, const TStoredSettings& st)
{
    return {ByteOption(cl, "--strike-time", st.strikeTime),
            ByteOption(cl, "--door-ajar-delay", st.doorAjarDelay),
            std::uint8_t(Choice(cl, "--function", "button", "handle", st.readerFunction == 1) ? 1 : 0),
            ByteOption(cl, "--tamper-signal", st.tamperSignal),
            ByteOption(cl, "--forced-door-signal", st.forcedDoorSignal),
            ByteOption(cl, "--door-ajar-signal", st.doorAjarSignal),
            Choice(cl, "--beep", "on", "off", st.beep)};
}

QString FailedRequestText(TCtlSession& s, const TWriteFailure& f)
{
    return QStringLiteral("request %1 of %2 (%3) was not answered by the module at address %4: %5")
        .arg(f.request).arg(f.of).arg(f.setting).arg(s.Address()).arg(f.reason);
}

// The batch goes out whole, as the window sends it: a request that is not
// answered fails the write, and the rest still go.
// The write's row in the production database, when there is one.
struct TProductionRow {
    TProductionDatabase* database = nullptr;
    qint64 id = 0;
};

int Write(TCtlSession& s, TCtlOutput& out, const TReaderConfiguration& reader,
          const std::optional<TMasterConfiguration>& master, TWriteRecord& record, const TProductionRow& row)
{
    QObject scope;
    TModuleSession& m = s.Module();
    std::optional<TWriteResult> result;
    QObject::connect(&m, &TModuleSession::WriteFinished, &scope, [&](const TWriteResult& r) { result = r; });
    QObject::connect(&m, &TModuleSession::TransferChanged, &scope, [&] {
        const TTransferState& t = m.Transfer();
        if (t.Status() == TTransferState::TStatus::Transferring)
            out.Progress(t.Position(), t.Maximum() + 1);
    });
    // one batch of this session: what of it is still queued if the link
    // closes never goes out, and a link that closed since it was opened
    // takes none of it
    if (!m.Write(reader, master)) {
        out.Error(s.WithLinkReason(QStringLiteral("nothing was written, the link to %1 is not open").arg(s.Where())));
        return CtlExit::NoAnswer;
    }
    const TWait wait = s.WaitFor([&] { return result.has_value(); }, -1);
    if (!result) // interrupted: the link's close ends the batch
        return Failed(s, wait, out, {});
    if (result->Succeeded())
        out.Progress(int(result->requests.size()), int(result->requests.size()));
    // what the module gives back after a write that went through, for the records
    std::optional<TModuleIdentity> readBack;
    if (result->Succeeded() && (record.IsOpen() || row.database)) {
        QString badReply;
        TWait readWait;
        readBack = ReadIdentity(s, badReply, readWait);
    }
    // a row the database lost with its connection becomes "unknown"; what the
    // module was written is still told, as it may hold the serial number now
    const QString unfinishedRow = row.database ? FinishRow(*row.database, row.id, *result, readBack) : QString();
    const auto tellRow = qScopeGuard([&] {
        if (!unfinishedRow.isEmpty())
            out.Error(unfinishedRow);
    });
    if (record.IsOpen()) {
        QString why;
        if (!record.Add(s.Link(), *result, readBack ? readBack->serialNumber : std::nullopt, why)) {
            out.Error(why);
            if (result->Succeeded())
                return CtlExit::CannotStore;
        }
    }
    if (!result->Succeeded()) {
        if (!s.Link().IsActive()) {
            const TWriteFailure& f = *result->failure;
            out.Error(QStringLiteral("%1; request %2 of %3 (%4) and those after it were not answered")
                          .arg(s.LostReason()).arg(f.request).arg(f.of).arg(f.setting));
            return CtlExit::NoAnswer;
        }
        return Failed(s, wait, out, FailedRequestText(s, *result->failure));
    }
    QJsonObject json{{"address", s.Address()}, {"requests", int(result->requests.size())}};
    QString text = QStringLiteral("address %1: configuration written (%2 requests)")
                       .arg(s.Address()).arg(result->requests.size());
    if (master) {
        json.insert("serialNumber", SerialNumberText(master->appID));
        text += QStringLiteral(", serial number %1").arg(SerialNumberText(master->appID));
    }
    out.Result(text, json);
    return unfinishedRow.isEmpty() ? CtlExit::Done : CtlExit::DatabaseUnavailable;
}

struct TAssignment {
    bool byCard = false;
    int target = 1;
    int waitS = DefaultAssignWaitS;
    QString card; // by card only
};

TAssignment AssignOptions(const TCtlCommandLine& cl, const TStoredSettings& stored)
{
    TAssignment a;
    a.byCard = cl.command == QLatin1String("assign-by-card");
    a.target = WholeNumber("NEW_ADDRESS", cl.arguments.value(0), 1, 16);
    a.waitS = cl.Has("--wait") ? WholeNumber("--wait", cl.options["--wait"], 1, 86400)
                               : (a.byCard ? DefaultCardWaitS : DefaultAssignWaitS);
    a.card = cl.options.value("--card", stored.serviceCard);
    if (!IsValidCardNumber(a.card))
        throw EUsage(QStringLiteral("--card: \"%1\" is not 1 to 16 hex digits").arg(a.card));
    return a;
}

// Ends when the module answers at the new address.
int Assign(TCtlSession& s, TCtlOutput& out, const TAssignment& a)
{
    QObject scope;
    TModuleSession& m = s.Module();
    bool taken = false;
    QObject::connect(&m, &TModuleSession::AddressTaken, &scope, [&](int address, bool) { taken = address == a.target; });
    if (a.byCard) {
        m.SelectAddress(a.target);
        m.StartSetByCard(a.card);
        out.Note(QStringLiteral("present the service card %1 to the reader").arg(NormalizeCardNumber(a.card)));
    } else {
        m.AssignAddress(a.target);
    }
    const TWait wait = s.WaitFor([&] { return taken; }, a.waitS * 1000);
    m.StopSetByCard();
    if (wait != TWait::Done)
        return Failed(s, wait, out, QStringLiteral("no module answered at address %1 within %2 s").arg(a.target).arg(a.waitS));
    out.Result(QStringLiteral("module answers at address %1").arg(a.target), {{"address", a.target}});
    // later runs find the module where it is now, as the window's next start does
    s.SaveAddress(a.target);
    return CtlExit::Done;
}

int Lightning(TCtlSession& s, TCtlOutput& out)
{
    QObject scope;
    std::optional<bool> answered;
    QString badReply;
    QObject::connect(&s.Module(), &TModuleSession::LightningFinished, &scope, [&](bool a, const QString&) { answered = a; });
    QObject::connect(&s.Module(), &TModuleSession::BadReply, &scope, [&](const QString& why) { badReply = why; });
    if (!s.Module().Lightning())
        return Failed(s, TWait::LinkLost, out, {});
    const TWait wait = s.WaitFor([&] { return answered.has_value(); }, RequestsWaitMs(s, 1));
    if (!answered.value_or(false))
        return Failed(s, wait, out, badReply.isEmpty() ? NoAnswerAt(s) : BadReplyAt(s, badReply));
    out.Result(QStringLiteral("address %1: relay pulled").arg(s.Address()), {{"address", s.Address()}});
    return CtlExit::Done;
}
}

int RunLinkCommand(const TCtlCommandLine& cl, TCtlOutput& out, const TLinkTiming& pace)
{
    TCtlSession session(cl, pace);
    if (cl.command == QLatin1String("scan"))
        return RunScan(session, out, cl);
    // values are checked before anything goes to the module
    std::optional<TMasterConfiguration> master;
    TReaderConfiguration reader;
    int watchSeconds = -1;
    std::optional<TAssignment> assignment;
    if (cl.command == QLatin1String("watch"))
        watchSeconds = WatchSeconds(cl);
    if (cl.command.startsWith(QLatin1String("assign")))
        assignment = AssignOptions(cl, session.Settings());
    TWriteRecord record;
    QString why;
    std::unique_ptr<TProductionDatabase> database;
    if (cl.command == QLatin1String("write")) {
        // a database that cannot take the record refuses the write before anything is sent
        if (const QString url = DatabaseUrl(cl, session.SettingsIni()); !url.isEmpty()) {
            database = std::make_unique<TProductionDatabase>(url);
            database->Check();
        }
        master = MasterOptions(cl, session.Settings(), database != nullptr);
        reader = ReaderOptions(cl, session.Settings());
        if (cl.Has("--record") && !record.Open(cl.options["--record"], why)) {
            out.Error(why);
            return CtlExit::CannotStore;
        }
    }
    if (!session.Open(why)) {
        out.Error(why);
        return session.Interrupted() ? CtlExit::Interrupted : CtlExit::CannotOpen;
    }
    if (cl.command == QLatin1String("status"))
        return Status(session, out);
    if (cl.command == QLatin1String("info"))
        return Info(session, out);
    if (cl.command == QLatin1String("watch"))
        return Watch(session, out, watchSeconds);
    if (cl.command == QLatin1String("write")) {
        TProductionRow row{database.get()};
        if (database) {
            row.id = TakeRow(*database, ProductionWrite(QStringLiteral("vyxctl"), session.Module(), reader, master),
                             master, cl.options.value("--app-id") == QLatin1String("next"));
        } else if (master) {
            // the next module gets the next serial number, stored before any
            // reply as the window does; a settings file that cannot take it
            // stops the write
            SaveLastAppID(session.SettingsIni(), session.SettingsLock(), AppIDText(IncrementAppID(master->appID)));
        }
        return Write(session, out, reader, master, record, row);
    }
    if (assignment)
        return Assign(session, out, *assignment);
    return Lightning(session, out);
}

int RunCommand(const TCtlCommandLine& cl, TCtlOutput& out, const TLinkTiming& pace)
{
    try {
        if (cl.command == QLatin1String("certificate")) {
#ifdef VYX_CTL_CERTIFICATE
            return RunCertificate(cl, out);
#else
            throw EUsage(QStringLiteral("this build has no web engine for the certificate"));
#endif
        }
        if (IsDatabaseCommand(cl))
            return RunDatabaseCommand(cl, out);
        return RunLinkCommand(cl, out, pace);
    } catch (const EUsage& e) {
        out.Error(QString::fromLocal8Bit(e.what()));
        out.Error(QStringLiteral("see vyxctl %1 --help").arg(cl.command));
        return CtlExit::Usage;
    } catch (const EIniFileError& e) {
        out.Error(QString::fromLocal8Bit(e.what()));
        return CtlExit::CannotStore;
    } catch (const ESettingsLocked& e) {
        out.Error(QString::fromLocal8Bit(e.what()));
        return CtlExit::SettingsInUse;
    } catch (const EProductionDatabase& e) {
        out.Error(QString::fromLocal8Bit(e.what()));
        return CtlExit::DatabaseUnavailable;
    }
}
