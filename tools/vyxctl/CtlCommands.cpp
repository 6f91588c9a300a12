#include "tools/vyxctl/CtlCommands.h"

#include "link/CommThreadU.h"
#include "tools/vyxctl/CtlOutput.h"
#include "tools/vyxctl/CtlRecord.h"
#include "tools/vyxctl/CtlScan.h"
#include "tools/vyxctl/CtlSession.h"
#include "module/CardNumbersU.h"
#include "module/ConfigurationWriteU.h"
#include "module/ModuleInfoU.h"
#include "module/ModuleRepliesU.h"
#include "module/ModuleRequestsU.h"

#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace {
using TWait = TCtlSession::TWait;
using ModuleReplies::Flag::CardRead;

// A reply comes within the link's time-out; this covers the pacing of a
// few queued requests ahead of it as well.
constexpr int ReplyWaitMs = 5000;
constexpr int DefaultAssignWaitS = 5;
constexpr int DefaultCardWaitS = 60;

QString Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

std::uint8_t CodeOf(const TCanonicalFrame& reply)
{
    return reply.size() > FrameOffset::Command ? ByteAt(reply, FrameOffset::Command) : 0;
}

// The status replies among the replies from index "from" on.
std::optional<ModuleReplies::TModuleStatus> LastStatus(const TCtlSession& s, qsizetype from,
                                                       std::optional<std::uint8_t> address = std::nullopt)
{
    for (qsizetype i = s.replies.size() - 1; i >= from; --i) {
        const TCanonicalFrame& reply = s.replies[i];
        if (CodeOf(reply) != ModuleReplies::StatusCode)
            continue;
        if (address && ByteAt(reply, FrameOffset::Address) != *address)
            continue;
        if (auto status = ModuleReplies::DecodeStatus(ModuleReplies::PayloadOf(reply)))
            return status;
    }
    return std::nullopt;
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

// What a wait that did not end in Done, or a request that failed, means for
// the exit status, with the link's reason when it gave one.
int Failed(const TCtlSession& s, TWait wait, TCtlOutput& out, const QString& noAnswer)
{
    if (wait == TWait::Interrupted) {
        out.Error(QStringLiteral("interrupted"));
        return CtlExit::Interrupted;
    }
    out.Error(wait == TWait::LinkLost ? s.LostReason() : s.WithLinkReason(noAnswer));
    return CtlExit::NoAnswer;
}

QString NoAnswerAt(const TCtlSession& s)
{
    return QStringLiteral("no answer from the module at address %1 on %2").arg(s.Address()).arg(s.Where());
}

// Waits until the total requests queued since start are answered; the first
// time-out fails the batch.
TWait WaitForBatch(TCtlSession& s, int start, int total, TCtlOutput* progress = nullptr)
{
    int shown = -1;
    return s.WaitFor([&] {
        const int done = s.commandsDone - start;
        if (progress && done != shown)
            progress->Progress(shown = std::min(done, total), total);
        return done >= total || s.commandTimeouts > 0;
    }, -1);
}

// Queues the requests as one batch of this session and waits for it. A batch
// the link refuses (it closed since it was opened) counts as a lost link.
TWait RunBatch(TCtlSession& s, const QList<TByteString>& batch)
{
    const int start = s.commandsDone;
    if (!s.Link().AddCommands(batch))
        return TWait::LinkLost;
    return WaitForBatch(s, start, int(batch.size()));
}

int Status(TCtlSession& s, TCtlOutput& out)
{
    const TWait wait = s.WaitFor([&] { return LastStatus(s, 0) || s.timeouts > 0; }, ReplyWaitMs);
    const auto status = LastStatus(s, 0);
    if (!status)
        return Failed(s, wait == TWait::Done ? TWait::TimedOut : wait, out, NoAnswerAt(s));
    out.Result(StatusText(s.Address(), *status), StatusObject(s.Address(), *status));
    return CtlExit::Done;
}

int Info(TCtlSession& s, TCtlOutput& out)
{
    const TWait wait = RunBatch(s, ModuleInfo::Requests(s.Address()));
    if (wait != TWait::Done || s.commandTimeouts > 0)
        return Failed(s, wait, out, NoAnswerAt(s));
    TModuleInfo info(s.Address());
    for (const TCanonicalFrame& reply : s.replies)
        info.Take(reply);
    const QString firmware = info.Firmware().value_or(QStringLiteral("NA"));
    const QString serial = info.SerialNumber().value_or(QStringLiteral("NA"));
    out.Result(QStringLiteral("address %1: firmware %2, serial number %3").arg(s.Address()).arg(firmware, serial),
               {{"address", s.Address()}, {"firmware", firmware}, {"serialNumber", serial}});
    return CtlExit::Done;
}

// -1: until interrupted
int WatchSeconds(const TCtlCommandLine& cl)
{
    return cl.Has("--seconds") ? WholeNumber("--seconds", cl.options["--seconds"], 1, 86400 * 365) : -1;
}

int Watch(TCtlSession& s, TCtlOutput& out, int seconds)
{
    std::optional<std::uint8_t> shownFlags;
    bool silent = false;
    qsizetype seen = 0;
    int timeouts = 0;
    auto report = [&] {
        for (; seen < s.replies.size(); ++seen) {
            const TCanonicalFrame& reply = s.replies[seen];
            const auto status = CodeOf(reply) == ModuleReplies::StatusCode
                                    ? ModuleReplies::DecodeStatus(ModuleReplies::PayloadOf(reply))
                                    : std::nullopt;
            if (!status)
                continue;
            silent = false;
            const std::uint8_t inputs = status->flags & ~CardRead;
            if (status->Has(CardRead) || shownFlags != inputs) {
                out.Result(StatusText(s.Address(), *status), StatusObject(s.Address(), *status));
                shownFlags = inputs;
            }
        }
        if (s.timeouts != timeouts && !silent) {
            out.Error(NoAnswerAt(s));
            silent = true;
        }
        timeouts = s.timeouts;
        return false;
    };
    const TWait wait = s.WaitFor(report, seconds < 0 ? -1 : seconds * 1000);
    if (wait == TWait::Interrupted || wait == TWait::LinkLost)
        return Failed(s, wait, out, {});
    // a watch that never saw the module failed, as a status poll would
    if (shownFlags)
        return CtlExit::Done;
    if (!silent)
        out.Error(NoAnswerAt(s));
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

std::optional<TMasterConfiguration> MasterOptions(const TCtlCommandLine& cl, const TStoredSettings& stored)
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
    if (appID == QLatin1String("next")) {
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

int Write(TCtlSession& s, TCtlOutput& out, const std::optional<TMasterConfiguration>& master,
          const TReaderConfiguration& reader, TCtlRecord& record)
{
    const QList<TByteString> batch = ConfigurationWrite(s.Address(), reader, master);
    const int start = s.commandsDone;
    // one batch of this session: what of it is still queued if the link
    // closes never goes out, and a link that closed since it was opened
    // takes none of it
    const bool queued = s.Link().AddCommands(batch) != 0;
    const TWait wait = queued ? WaitForBatch(s, start, int(batch.size()), &out) : TWait::LinkLost;
    const bool failed = wait != TWait::Done || s.commandTimeouts > 0;
    const int failedAt = s.commandsDone - start + 1;
    const QString refused =
        s.WithLinkReason(QStringLiteral("nothing was written, the link to %1 is not open").arg(s.Where()));
    auto failure = [&] {
        if (!queued)
            return refused;
        if (wait == TWait::Interrupted)
            return QStringLiteral("interrupted");
        return wait == TWait::LinkLost ? s.LostReason() : QStringLiteral("no reply in time");
    };
    QString why;
    if (record.IsOpen()
        && !record.Add(s, batch, master, failed ? std::optional<TFailedRequest>({failedAt, failure()}) : std::nullopt,
                       why)) {
        out.Error(why);
        if (!failed)
            return CtlExit::CannotStore;
    }
    if (!queued) {
        out.Error(refused);
        return CtlExit::NoAnswer;
    }
    if (failed)
        return Failed(s, wait, out, QStringLiteral("request %1 of %2 was not answered by the module at address %3")
                                     .arg(failedAt).arg(batch.size()).arg(s.Address()));
    QJsonObject result{{"address", s.Address()}, {"requests", int(batch.size())}};
    QString text = QStringLiteral("address %1: configuration written (%2 requests)").arg(s.Address()).arg(batch.size());
    if (master) {
        result.insert("serialNumber", SerialNumberText(master->appID));
        text += QStringLiteral(", serial number %1").arg(SerialNumberText(master->appID));
    }
    out.Result(text, result);
    return CtlExit::Done;
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

// Ends when a status reply comes from the new address.
int Assign(TCtlSession& s, TCtlOutput& out, const TAssignment& a)
{
    // from now on the link polls the new address
    s.Link().HWAddress = std::uint8_t(a.target);
    const qsizetype from = s.replies.size();
    const int timeoutsBefore = s.timeouts;
    QTimer repeat;
    if (a.byCard) {
        auto queue = [&] { s.Link().AddCommand(ModuleRequests::SetByCard(a.target, a.card)); };
        QObject::connect(&repeat, &QTimer::timeout, queue);
        queue();
        repeat.start(ModuleRequests::SetByCardRepeatMs);
        out.Note(QStringLiteral("present the service card %1 to the reader").arg(NormalizeCardNumber(a.card)));
    } else {
        s.Link().AssignHWAddress(ModuleRequests::AssignedAddress(a.target));
    }
    // the direct assignment's follow-up goes out at its time-out, and its own
    // time-out comes before the first poll to the new address
    const TWait wait = s.WaitFor([&] {
        return LastStatus(s, from, std::uint8_t(a.target)) && (a.byCard || s.timeouts > timeoutsBefore);
    }, a.waitS * 1000);
    if (wait != TWait::Done)
        return Failed(s, wait, out, QStringLiteral("no module answered at address %1 within %2 s").arg(a.target).arg(a.waitS));
    out.Result(QStringLiteral("module answers at address %1").arg(a.target), {{"address", a.target}});
    // later runs find the module where it is now, as the window's next start does
    s.SaveAddress(a.target);
    return CtlExit::Done;
}

int Lightning(TCtlSession& s, TCtlOutput& out)
{
    const TWait wait = RunBatch(s, {ModuleRequests::Lightning(s.Address())});
    if (wait != TWait::Done || s.commandTimeouts > 0)
        return Failed(s, wait, out, NoAnswerAt(s));
    out.Result(QStringLiteral("address %1: relay pulled").arg(s.Address()), {{"address", s.Address()}});
    return CtlExit::Done;
}
}

int RunLinkCommand(const TCtlCommandLine& cl, TCtlOutput& out)
{
    TCtlSession session(cl);
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
    TCtlRecord record;
    QString why;
    if (cl.command == QLatin1String("write")) {
        const TStoredSettings& st = session.Settings();
        master = MasterOptions(cl, st);
        reader = {ByteOption(cl, "--strike-time", st.strikeTime),
                  ByteOption(cl, "--door-ajar-delay", st.doorAjarDelay),
                  std::uint8_t(Choice(cl, "--function", "button", "handle", st.readerFunction == 1) ? 1 : 0),
                  ByteOption(cl, "--tamper-signal", st.tamperSignal),
                  ByteOption(cl, "--forced-door-signal", st.forcedDoorSignal),
                  ByteOption(cl, "--door-ajar-signal", st.doorAjarSignal),
                  Choice(cl, "--beep", "on", "off", st.beep)};
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
        // the next module gets the next serial number, stored before any reply
        // as the window does; a settings file that cannot take it stops the write
        if (master)
            SaveLastAppID(session.SettingsIni(), session.SettingsLock(), AppIDText(IncrementAppID(master->appID)));
        return Write(session, out, master, reader, record);
    }
    if (assignment)
        return Assign(session, out, *assignment);
    return Lightning(session, out);
}
