#pragma once
// vyxctl certificate: the certificate window's page as a one-page PDF on the
// window's page layout, rendered by the web engine without a display.

#include "tools/vyxctl/CtlCommandLine.h"

class TCtlOutput;

// Runs under a QGuiApplication. Raises EUsage.
int RunCertificate(const TCtlCommandLine& commandLine, TCtlOutput& out);
