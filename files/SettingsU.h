#pragma once
// The settings file "VyxvozeRadavo.ini": what it holds, read with its defaults
// and clamps, and written back in the program's order.

#include <QMap>
#include <QString>

#include <optional>

class TCommThread;
class TIniFile;
class TSettingsLock;

constexpr const char* SettingsFileName = "VyxvozeRadavo.ini";

// The link's transport, as the settings file and the settings dialog give it.
struct TLinkSettings {
    int comPort = 2;
    int dataBits = 9;
    QString ipAddress;
    int ipPort = 10000;
    bool lanMode = false;
};

struct TStoredSettings {
    // Window
    int top = 82;
    int left = 455;
    // Communication
    int comPort = 2;
    int dataBits = 9;
    QString ipAddress;
    int ipPort = 10000;
    bool lanMode = false;            // "CommunicationMode" upper-cased equals "LAN"
    int hwAddress = 1;               // clamped 1..16
    QString serviceCard = "0000000000000000"; // normalised, zeros when invalid
    // "ReplyTimeout" in ms, for a slow device server; read, never written
    std::optional<int> replyTimeoutMs;
    // ReaderData
    int strikeTime = 7;              // spin-edit values clamped 0..255
    bool beep = true;                // "BeepFunction" 0
    int doorAjarDelay = 20;
    int tamperSignal = 30;
    int forcedDoorSignal = 30;
    int doorAjarSignal = 30;
    int readerFunction = 0;          // index 0..1, else 0
    bool master = false;             // "Master" exactly 1
    QString lastAppID;
    // Version
    bool masterFeature = false;      // "SetMaster" not 0
    // Ports: device paths for COM1..COM8, keyed "COM1".."COM8"
    QMap<QString, QString> portPaths;
    // Production: the file every Write's record line goes to; read, never written
    QString recordFile;

    TLinkSettings Link() const { return {comPort, dataBits, ipAddress, ipPort, lanMode}; }
    bool operator==(const TStoredSettings&) const = default;
};

// The defaults that come from the running program rather than the file: the
// link's current port number and the address field's current value.
struct TSettingsDefaults {
    int comPort = 2;
    int hwAddress = 1;
};

// The reply time-outs a settings file or vyxctl may ask for, in ms.
constexpr int ShortestReplyTimeoutMs = 50;
constexpr int LongestReplyTimeoutMs = 60000;

// Reads every key in the program's order. A missing or unreadable file gives
// the defaults; nothing here raises.
TStoredSettings ReadSettings(const TIniFile& ini, const TSettingsDefaults& defaults);

// Writes the keys saved at close, in the program's order ("LastAppID" and
// "SetMaster" are not among them). Raises EIniFileError "Unable to write to %s".
void WriteSettings(TIniFile& ini, const TStoredSettings& settings);

// Hands the transport settings to the link: port, data bits, host, port
// number, and the transport last, since LAN mode forces the 8-bit form.
void ConfigureLink(TCommThread& link, const TLinkSettings& settings);

// The keys written while a program runs, each alone: every other line of the
// file stays as it was (a script's five-line file stays five lines). The lock
// on the file is the caller's, taken before it read what it bases the value
// on, so that nothing another program stores in between is written over.
// Raise EIniFileError.
//
// "ReaderData" "LastAppID" at once, after every master write.
void SaveLastAppID(TIniFile& ini, const TSettingsLock& held, const QString& appID);
// "Communication" "HWAddress" after an address assignment, into a file that
// exists; none is made for it.
void SaveHWAddress(TIniFile& ini, const TSettingsLock& held, int address);
