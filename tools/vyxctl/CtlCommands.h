#pragma once
// The commands of vyxctl, each one run to its end with an exit status a
// script can trust.

#include "link/LinkTimingU.h"
#include "tools/vyxctl/CtlCommandLine.h"

class TCtlOutput;

namespace CtlExit {
constexpr int Done = 0;
constexpr int NoAnswer = 1;
constexpr int Usage = 2;
constexpr int CannotOpen = 3;
constexpr int CannotStore = 4;
constexpr int SettingsInUse = 5;
constexpr int NotRendered = 6; // the certificate's PDF
// the production database: unreachable, login refused, tables missing, a
// newer schema, the connection lost
constexpr int DatabaseUnavailable = 7;
constexpr int Interrupted = 130;
constexpr int OutputClosed = 141; // stdout or stderr lost its reader, as SIGPIPE would end a program
}

// Runs the command to its end: its exit status, with the reason on out for
// a usage error, a settings file that cannot be written or is held by
// another program. pace: as for RunLinkCommand.
int RunCommand(const TCtlCommandLine& commandLine, TCtlOutput& out, const TLinkTiming& pace = {});

// The link commands (all but "certificate"). Raises EUsage. pace: the
// link's timing before the settings file's and --reply-timeout.
int RunLinkCommand(const TCtlCommandLine& commandLine, TCtlOutput& out, const TLinkTiming& pace = {});
