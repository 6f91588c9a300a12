#pragma once
// vyxctl scan: which bus addresses answer, with firmware and serial number.

#include "tools/vyxctl/CtlCommandLine.h"

class TCtlOutput;
class TCtlSession;

int RunScan(TCtlSession& session, TCtlOutput& out, const TCtlCommandLine& commandLine);
