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
constexpr int Interrupted = 130;
}

// The link commands (all but "certificate"). Raises EUsage. pace: the
// link's timing before the settings file's and --reply-timeout.
int RunLinkCommand(const TCtlCommandLine& commandLine, TCtlOutput& out, const TLinkTiming& pace = {});
