#include "tools/module-sim/SimBus.h"

#include "tools/module-sim/SimText.h"

#include <algorithm>

namespace {
constexpr int SetByCardPayload = 5; // address and four card bytes
}

std::uint8_t AssignedAddress(std::uint8_t carried)
{
    return carried == 0 ? SimLimits::MaxAddress : carried;
}

TSimBus::TSimBus(std::vector<TSimModule> modules)
    : FModules(std::move(modules))
{
}

TSimModule* TSimBus::ModuleAt(std::uint8_t address)
{
    const auto it = std::find_if(FModules.begin(), FModules.end(),
                                 [address](const TSimModule& m) { return m.Address() == address; });
    return it == FModules.end() ? nullptr : &*it;
}

TBusOutcome TSimBus::Handle(const TCanonicalFrame& request, qint64 nowMs)
{
    const std::uint8_t address = ByteAt(request, FrameOffset::Address);
    const std::uint8_t command = ByteAt(request, FrameOffset::Command);
    const TByteString payload = FramePayload(request);
    if (address == 0) {
        switch (command) {
        case SimCommand::MasterCard:
            return HandleAssignment(payload);
        case SimCommand::AssignmentFollowUp:
            return HandleFollowUp();
        case SimCommand::SetAddressByCard:
            return HandleSetByCard(payload);
        default:
            return {std::nullopt, {QStringLiteral("unknown command 0x%1 to address 0").arg(SimText::HexByte(command))}};
        }
    }
    TSimModule* module = ModuleAt(address);
    if (!module)
        return {std::nullopt, {QStringLiteral("no module at address %1").arg(address)}};
    TModuleAnswer answer = module->Answer(request, nowMs);
    TBusOutcome outcome{std::move(answer.reply), {}};
    if (!answer.note.isEmpty())
        outcome.notes << answer.note;
    return outcome;
}

QStringList TSimBus::AddressTaken(const TSimModule& module, std::uint8_t oldAddress, const QString& how) const
{
    QStringList notes{QStringLiteral("module at %1 takes address %2 (%3)").arg(oldAddress).arg(module.Address()).arg(how)};
    const auto holders = std::count_if(FModules.begin(), FModules.end(),
                                       [&](const TSimModule& m) { return m.Address() == module.Address(); });
    if (holders > 1)
        notes << QStringLiteral("warning: %1 modules at address %2; only the first answers").arg(holders).arg(module.Address());
    return notes;
}

TBusOutcome TSimBus::HandleAssignment(const TByteString& payload)
{
    TBusOutcome outcome;
    if (payload.size() != 1) {
        outcome.notes << QStringLiteral("address assignment with %1 payload bytes ignored").arg(payload.size());
        return outcome;
    }
    const std::uint8_t address = AssignedAddress(ByteAt(payload, 0));
    if (address > SimLimits::MaxAddress) {
        outcome.notes << QStringLiteral("address assignment to %1 ignored: not a bus address").arg(address);
        return outcome;
    }
    for (TSimModule& module : FModules) {
        if (!module.AssignMode())
            continue;
        const std::uint8_t old = module.Address();
        module.SetAddress(address);
        outcome.notes << AddressTaken(module, old, QStringLiteral("direct assignment"));
    }
    if (outcome.notes.isEmpty())
        outcome.notes << QStringLiteral("no module in assignment mode");
    return outcome;
}

// The follow-up confirms the assignment: modules leave assignment mode.
TBusOutcome TSimBus::HandleFollowUp()
{
    TBusOutcome outcome;
    for (TSimModule& module : FModules) {
        if (!module.AssignMode())
            continue;
        module.SetAssignMode(false);
        outcome.notes << QStringLiteral("module at %1 leaves assignment mode").arg(module.Address());
    }
    return outcome;
}

TBusOutcome TSimBus::HandleSetByCard(const TByteString& payload)
{
    TBusOutcome outcome;
    if (payload.size() != SetByCardPayload) {
        outcome.notes << QStringLiteral("set by card with %1 payload bytes ignored").arg(payload.size());
        return outcome;
    }
    const std::uint8_t address = AssignedAddress(ByteAt(payload, 0));
    if (address > SimLimits::MaxAddress) {
        outcome.notes << QStringLiteral("set by card to %1 ignored: not a bus address").arg(address);
        return outcome;
    }
    TServiceCardKey key;
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = ByteAt(payload, qsizetype(1 + i));
    for (TSimModule& module : FModules)
        module.ArmAddressByCard(address, key);
    outcome.notes << QStringLiteral("modules wait for a card ending %1 to take address %2")
                         .arg(SimText::HexLowFirst(key))
                         .arg(address);
    return outcome;
}
