#pragma once
// What the program leaves on the terminal it was started from: its own
// warnings, and the messages of Qt, the sound library and the web engine only
// when asked for (--verbose, or QT_LOGGING_RULES as usual).

// Whether the command line asks for everything ("--verbose").
bool WantsVerbose(int argc, char** argv);

// Call before the application object, so that Qt's start-up is quiet too.
void QuietTerminal(bool verbose);
