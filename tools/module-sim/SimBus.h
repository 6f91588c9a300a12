#pragma once
// The bus: the modules on one line. Routes each good request to the module at
// its address and carries out the frames to address 0, which nobody answers.

#include "tools/module-sim/SimModule.h"

#include <QStringList>

#include <vector>

struct TBusOutcome {
    std::optional<TCanonicalFrame> reply;
    QStringList notes; // what happened, for the wire log
};

class TSimBus {
public:
    explicit TSimBus(std::vector<TSimModule> modules = {TSimModule(1)});

    std::vector<TSimModule>& Modules() { return FModules; }
    const std::vector<TSimModule>& Modules() const { return FModules; }
    // The module that answers at this address: the first one holding it.
    TSimModule* ModuleAt(std::uint8_t address);

    // request: a canonical frame whose check word was found good.
    TBusOutcome Handle(const TCanonicalFrame& request, qint64 nowMs);

    // Notes about a module that has just taken an address.
    QStringList AddressTaken(const TSimModule& module, std::uint8_t oldAddress, const QString& how) const;

private:
    TBusOutcome HandleAssignment(const TByteString& payload);
    TBusOutcome HandleFollowUp();
    TBusOutcome HandleSetByCard(const TByteString& payload);

    std::vector<TSimModule> FModules;
};

// The tool sends 0 for bus address 16.
std::uint8_t AssignedAddress(std::uint8_t carried);
