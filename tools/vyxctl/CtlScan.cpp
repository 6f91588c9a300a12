#include "tools/vyxctl/CtlScan.h"

#include "link/CommThreadU.h"
#include "session/ModuleSessionU.h"
#include "tools/vyxctl/CtlCommands.h"
#include "tools/vyxctl/CtlOutput.h"
#include "tools/vyxctl/CtlSession.h"

#include <QJsonObject>

#include <map>

namespace {
constexpr int LowestAddress = 1;
constexpr int HighestAddress = 16;

QJsonValue OrNull(const std::optional<QString>& text)
{
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

// An address costs its probe and, when it answers, five information
// requests; the bound is only reached by a link that stalls.
int ScanWaitMs(TCtlSession& s, int addresses)
{
    const TLinkTiming& t = s.Link().Timing();
    return int(addresses * 6 * (t.sendInterval + t.replyTimeout).count()) + 5000;
}
}

int RunScan(TCtlSession& s, TCtlOutput& out, const TCtlCommandLine& cl)
{
    if (cl.address)
        throw EUsage(QStringLiteral("scan asks every address; give --from and --to instead of --address"));
    const int from = cl.Has("--from") ? WholeNumber("--from", cl.options["--from"], LowestAddress, HighestAddress)
                                      : LowestAddress;
    const int to = cl.Has("--to") ? WholeNumber("--to", cl.options["--to"], from, HighestAddress) : HighestAddress;
    QString why;
    if (!s.Open(why)) {
        out.Error(why);
        return s.Interrupted() ? CtlExit::Interrupted : CtlExit::CannotOpen;
    }

    QObject scope;
    TModuleSession& m = s.Module();
    std::map<int, TScanEntry> found;
    std::optional<TScanOutcome> outcome;
    QObject::connect(&m, &TModuleSession::ScanProgress, &scope,
                     [&](int asked, int count) { out.Progress(asked, count, "scanning"); });
    QObject::connect(&m, &TModuleSession::ModuleFound, &scope,
                     [&](const TScanEntry& entry) { found[entry.address] = entry; });
    QObject::connect(&m, &TModuleSession::ScanFinished, &scope, [&](const TScanOutcome& o) { outcome = o; });
    if (!m.StartScan(from, to)) {
        out.Error(s.LostReason());
        return CtlExit::NoAnswer;
    }
    const TCtlSession::TWait wait = s.WaitFor([&] { return outcome.has_value(); }, ScanWaitMs(s, to - from + 1));
    if (wait == TCtlSession::TWait::Interrupted) {
        out.Error(QStringLiteral("interrupted"));
        return CtlExit::Interrupted;
    }
    for (const auto& [address, entry] : found)
        out.Result(QStringLiteral("address %1: firmware %2, serial number %3")
                       .arg(address)
                       .arg(entry.firmware.value_or(QStringLiteral("NA")), entry.serialNumber.value_or(QStringLiteral("NA"))),
                   {{"address", address}, {"firmware", OrNull(entry.firmware)}, {"serialNumber", OrNull(entry.serialNumber)}});
    if (!outcome) {
        out.Error(QStringLiteral("the scan on %1 did not end in time").arg(s.Where()));
        return CtlExit::NoAnswer;
    }
    for (const auto& [address, reason] : outcome->faults)
        out.Error(QStringLiteral("address %1 replied, but: %2").arg(address).arg(reason));
    if (!outcome->lostReason.isEmpty()) {
        // the addresses never asked get no verdict
        const QString asked = outcome->asked == 0 ? QStringLiteral("before any address was asked")
                                                  : QStringLiteral("after addresses %1 to %2").arg(from).arg(from + outcome->asked - 1);
        out.Error(QStringLiteral("the link to %1 was lost %2: %3").arg(s.Where(), asked, outcome->lostReason));
        return CtlExit::NoAnswer;
    }
    if (found.empty() && outcome->faults.isEmpty())
        out.Error(QStringLiteral("no module answered at addresses %1 to %2 on %3").arg(from).arg(to).arg(s.Where()));
    return found.empty() || !outcome->faults.isEmpty() ? CtlExit::NoAnswer : CtlExit::Done;
}
