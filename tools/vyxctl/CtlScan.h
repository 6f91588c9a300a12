#pragma once
// vyxctl scan: which bus addresses answer, with firmware and serial number.

#include "tools/vyxctl/CtlCommandLine.h"

class TCtlOutput;
class TCtlSession;

// Opens the link itself: the requests go into the queue before it opens.
int RunScan(TCtlSession& session, TCtlOutput& out, const TCtlCommandLine& commandLine);
