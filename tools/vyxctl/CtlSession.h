#pragma once
// One run of vyxctl against the module: the settings file, the link set up
// from it and from the command line, the module session on that link, and
// waiting for what the session says.

#include "files/IniFile.h"
#include "files/SettingsU.h"
#include "link/LinkTimingU.h"
#include "tools/vyxctl/CtlCommandLine.h"

#include <functional>
#include <memory>

class TCommThread;
class TModuleSession;
class TSettingsLock;
class TTerminationSignals;

// --settings, else the file the window uses.
QString SettingsFilePath(const TCtlCommandLine& commandLine);
// Raises EUsage, with the file's path, when the file cannot be read or is no
// text, or is missing and was named by --settings.
void CheckSettingsFile(const TIniFile& ini, bool named);

class TCtlSession {
public:
    // Reads the settings file and configures the link; raises EUsage for a
    // bad override or a settings file that cannot be read (only the window's
    // may be missing), ESettingsLocked when the command would write a
    // settings file that another program holds. pace: the link's timing
    // before the settings file's and the command line's reply time-out.
    explicit TCtlSession(const TCtlCommandLine& commandLine, const TLinkTiming& pace = {});
    ~TCtlSession(); // closes the link

    TCommThread& Link() { return *FLink; }
    TModuleSession& Module() { return *FModule; }
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

    enum class TWait { Done, TimedOut, Interrupted, LinkLost };
    // Runs the event loop until done() holds, timeoutMs passes (< 0: never),
    // SIGINT, SIGTERM or SIGHUP arrives, or the open link closes or fails
    // (its queue is emptied then, so nothing else would end the wait).
    // done() is asked again after every event.
    TWait WaitFor(const std::function<bool()>& done, int timeoutMs);
    // "the link to 127.0.0.1:10000 was lost: Connection closed by the device server"
    QString LostReason() const;
    // text, and the link's reason when it gave one (a reply that failed its check)
    QString WithLinkReason(const QString& text) const;

private:
    void Apply(const TCtlCommandLine& commandLine);
    // "COM2; settings: FILE": where the values of a failed open came from
    QString Origin() const;
    void Close();

    TIniFile FIni;
    std::unique_ptr<TSettingsLock> FLock;
    TStoredSettings FSettings;
    std::unique_ptr<TCommThread> FLink;
    std::unique_ptr<TModuleSession> FModule; // goes before the link it listens to
    std::unique_ptr<TTerminationSignals> FSignals;
    bool FInterrupted = false;
    bool FOpened = false;
    bool FOpenFailed = false;
    bool FLinkLost = false;
};
