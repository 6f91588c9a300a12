#include "tools/vyxctl/CtlScan.h"

#include "link/CommThreadU.h"
#include "module/ModuleInfoU.h"
#include "module/ModuleRequestsU.h"
#include "module/ModuleRepliesU.h"
#include "tools/vyxctl/CtlCommands.h"
#include "tools/vyxctl/CtlOutput.h"
#include "tools/vyxctl/CtlSession.h"

#include <QJsonObject>

#include <algorithm>
#include <map>

namespace {
constexpr int LowestAddress = 1;
constexpr int HighestAddress = 16;
// An address costs at most its poll's time-out and, when it answers, the five
// information requests; this only bounds the wait should the link stall.
constexpr int WaitPerAddressMs = 5000;

QJsonValue OrNull(const std::optional<QString>& text)
{
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

class TScan {
public:
    TScan(TCtlSession& s, int from, int to)
        : FSession(s)
        , FFrom(from)
        , FTo(to)
    {
    }

    // The link polls its own address whenever its queue is empty, so that
    // poll is the first address's; the others are queued ahead of it, and
    // each address is asked once, whether it answers or not.
    void QueueProbes()
    {
        FSession.Link().HWAddress = std::uint8_t(FFrom);
        for (int a = FFrom + 1; a <= FTo; ++a)
            Queue(ModuleRequests::Poll(std::uint8_t(a)));
    }

    // Takes the replies that came; true once every request is settled.
    bool Settled()
    {
        while (FSeen < FSession.replies.size()) {
            const TCanonicalFrame reply = FSession.replies[FSeen++];
            const int address = ByteAt(reply, FrameOffset::Address);
            if (address < FFrom || address > FTo)
                continue;
            if (auto known = FFound.find(address); known != FFound.end()) {
                known->second.Take(reply);
            } else if (ByteAt(reply, FrameOffset::Command) == ModuleReplies::StatusCode) {
                FFound.emplace(address, TModuleInfo(std::uint8_t(address)));
                for (const TByteString& request : ModuleInfo::Requests(std::uint8_t(address)))
                    Queue(request);
            }
        }
        return SettledRequests() == FQueued && FirstProbed();
    }

    // Addresses asked so far, of the number to ask: the probes were queued
    // before any information request, so they settle first.
    int Probed() const { return std::min(SettledRequests(), FTo - FFrom) + (FirstProbed() ? 1 : 0); }
    int Count() const { return FTo - FFrom + 1; }
    const std::map<int, TModuleInfo>& Found() const { return FFound; }

private:
    void Queue(const TByteString& request)
    {
        FSession.Link().AddCommand(request);
        ++FQueued;
    }
    int SettledRequests() const { return FSession.commandsDone + FSession.commandTimeouts; }
    bool FirstProbed() const { return FFound.count(FFrom) > 0 || FSession.timeouts > 0; }

    TCtlSession& FSession;
    int FFrom;
    int FTo;
    int FQueued = 0;
    qsizetype FSeen = 0;
    std::map<int, TModuleInfo> FFound;
};
}

int RunScan(TCtlSession& s, TCtlOutput& out, const TCtlCommandLine& cl)
{
    if (cl.address)
        throw EUsage(QStringLiteral("scan asks every address; give --from and --to instead of --address"));
    const int from = cl.Has("--from") ? WholeNumber("--from", cl.options["--from"], LowestAddress, HighestAddress)
                                      : LowestAddress;
    const int to = cl.Has("--to") ? WholeNumber("--to", cl.options["--to"], from, HighestAddress) : HighestAddress;
    TScan scan(s, from, to);
    scan.QueueProbes();
    QString why;
    if (!s.Open(why)) {
        out.Error(why);
        return s.Interrupted() ? CtlExit::Interrupted : CtlExit::CannotOpen;
    }
    int shown = -1;
    const TCtlSession::TWait wait = s.WaitFor([&] {
        const bool settled = scan.Settled();
        if (const int probed = scan.Probed(); probed != shown)
            out.Progress(shown = probed, scan.Count(), "scanning");
        return settled;
    }, scan.Count() * WaitPerAddressMs);
    if (wait == TCtlSession::TWait::Interrupted) {
        out.Error(QStringLiteral("interrupted"));
        return CtlExit::Interrupted;
    }
    if (scan.Found().empty()) {
        out.Error(QStringLiteral("no module answered at addresses %1 to %2 on %3").arg(from).arg(to).arg(s.Where()));
        return CtlExit::NoAnswer;
    }
    for (const auto& [address, info] : scan.Found())
        out.Result(QStringLiteral("address %1: firmware %2, serial number %3")
                       .arg(address)
                       .arg(info.Firmware().value_or(QStringLiteral("NA")), info.SerialNumber().value_or(QStringLiteral("NA"))),
                   {{"address", address}, {"firmware", OrNull(info.Firmware())}, {"serialNumber", OrNull(info.SerialNumber())}});
    return CtlExit::Done;
}
