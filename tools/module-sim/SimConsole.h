#pragma once
// The simulator's commands, one text line each (what standard input carries):
// present cards, switch inputs, move modules, set faults. No I/O: the host
// prints the reply and carries out quit and drop.

#include "tools/module-sim/SimBus.h"
#include "tools/module-sim/SimLink.h"

#include <QString>
#include <QStringList>

#include <span>

struct TConsoleReply {
    QString text; // for the user; empty: nothing to say
    bool error = false;
    bool quit = false;
    bool dropNow = false; // end the connection now
};

class TSimConsole {
public:
    TSimConsole(TSimBus& bus, TSimLink& link);

    TConsoleReply Execute(const QString& line, qint64 nowMs);
    static QString HelpText();

    // The module that cards, codes and inputs go to.
    const TSimModule& Selected() const { return FBus.Modules().at(FSelected); }

    struct TCommand {
        const char* name;
        const char* arguments;
        const char* help;
        int minArgs;
        int maxArgs;
        TConsoleReply (TSimConsole::*run)(const QStringList& words, qint64 nowMs);
    };

private:
    static std::span<const TCommand> Table();
    static const TCommand* Find(const QString& name);

    TConsoleReply Help(const QStringList& args, qint64 nowMs);
    TConsoleReply Status(const QStringList& args, qint64 nowMs);
    TConsoleReply Select(const QStringList& args, qint64 nowMs);
    TConsoleReply Card(const QStringList& args, qint64 nowMs);
    TConsoleReply Code(const QStringList& args, qint64 nowMs);
    TConsoleReply Flags(const QStringList& args, qint64 nowMs);
    TConsoleReply Switch(const QStringList& args, qint64 nowMs);
    TConsoleReply Address(const QStringList& args, qint64 nowMs);
    TConsoleReply Assign(const QStringList& args, qint64 nowMs);
    TConsoleReply Silent(const QStringList& args, qint64 nowMs);
    TConsoleReply Period(const QStringList& args, qint64 nowMs);
    TConsoleReply Timing(const QStringList& args, qint64 nowMs); // delay and split
    TConsoleReply Drop(const QStringList& args, qint64 nowMs);
    TConsoleReply Faults(const QStringList& args, qint64 nowMs);
    TConsoleReply Quit(const QStringList& args, qint64 nowMs);

    TSimModule& SelectedModule() { return FBus.Modules().at(FSelected); }
    QString ModuleLine(const TSimModule& module, qint64 nowMs) const;

    TSimBus& FBus;
    TSimLink& FLink;
    std::size_t FSelected = 0;
};
