#pragma once
// One run of vyxctl against the module: the settings file, the link set up
// from it and from the command line, and waiting for the link's events.

#include "base/CommTypesU.h"
#include "tools/vyxctl/CtlCommandLine.h"
#include "files/IniFile.h"
#include "files/SettingsU.h"

#include <QList>

#include <functional>
#include <memory>

class TCommThread;
class TTerminationSignals;

// --settings, else the file the window uses.
QString SettingsFilePath(const TCtlCommandLine& commandLine);

class TCtlSession {
public:
    // Reads the settings file and configures the link; raises EUsage for a
    // bad override.
    explicit TCtlSession(const TCtlCommandLine& commandLine);
    ~TCtlSession(); // closes the link

    TCommThread& Link() { return *FLink; }
    TIniFile& SettingsIni() { return FIni; }
    const TStoredSettings& Settings() const { return FSettings; }
    std::uint8_t Address() const;
    // "127.0.0.1:10000" or "/dev/ttyUSB0 (9-bit)"
    QString Where() const;
    QString Endpoint() const; // "127.0.0.1:10000" or "/dev/ttyUSB0"
    QString LineForm() const; // "8-bit framed" or "9-bit"

    // Opens the link; false with the reason when it cannot be opened.
    bool Open(QString& why);
    // SIGINT, SIGTERM or SIGHUP came.
    bool Interrupted() const { return FInterrupted; }

    // Stores the module's new bus address in the settings file, when there
    // is one, as the window saves it. Raises EIniFileError.
    void SaveAddress(int address);

    enum class TWait { Done, TimedOut, Interrupted };
    // Runs the event loop until done() holds, timeoutMs passes (< 0: never)
    // or SIGINT, SIGTERM or SIGHUP arrives.
    TWait WaitFor(const std::function<bool()>& done, int timeoutMs);

    // What the link reported since it was opened.
    QList<TCanonicalFrame> replies;
    int commandsDone = 0;
    int commandTimeouts = 0;
    int timeouts = 0;
    int errors = 0;
    bool opened = false;
    bool closed = false;

private:
    void Apply(const TCtlCommandLine& commandLine);
    // "COM2; settings: FILE": where the values of a failed open came from
    QString Origin() const;
    void Close();

    TIniFile FIni;
    TStoredSettings FSettings;
    std::unique_ptr<TCommThread> FLink;
    std::unique_ptr<TTerminationSignals> FSignals;
    bool FInterrupted = false;
};
