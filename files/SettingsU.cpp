#include "files/SettingsU.h"

#include "link/CommThreadU.h"

#include "module/CardNumbersU.h"
#include "files/IniFile.h"

#include <algorithm>

namespace {
const QString Window = QStringLiteral("Window");
const QString Communication = QStringLiteral("Communication");
const QString ReaderData = QStringLiteral("ReaderData");
const QString Version = QStringLiteral("Version");
const QString Ports = QStringLiteral("Ports");

const QString ZeroCard = QStringLiteral("0000000000000000");
const QString LanMode = QStringLiteral("LAN");
const QString ComMode = QStringLiteral("COM");

constexpr int ReaderFunctionCount = 2;

int ReadClamped(const TIniFile& ini, const QString& section, const QString& key, int defaultValue, int low, int high)
{
    return std::clamp(ini.ReadInteger(section, key, defaultValue), low, high);
}

// The link's field is one byte: a value it cannot hold would arrive there as
// some unrelated number, so the default stays instead.
int ReadDataBits(const TIniFile& ini, int defaultValue)
{
    const int value = ini.ReadInteger(Communication, QStringLiteral("DataBits"), defaultValue);
    return value >= 0 && value <= 255 ? value : defaultValue;
}

QString ReadServiceCard(const TIniFile& ini)
{
    const QString card = NormalizeCardNumber(ini.ReadString(Communication, QStringLiteral("ServiceCard"), ZeroCard));
    return IsValidCardNumber(card) ? card : ZeroCard;
}

bool IsPortName(const QString& upperKey)
{
    return upperKey.size() == 4 && upperKey.startsWith(ComMode) && upperKey[3] >= u'1' && upperKey[3] <= u'8';
}

QMap<QString, QString> ReadPortPaths(const TIniFile& ini)
{
    QMap<QString, QString> paths;
    for (const QString& key : ini.ReadSection(Ports)) {
        const QString name = key.toUpper();
        const QString path = ini.ReadString(Ports, key, QString());
        if (IsPortName(name) && !path.isEmpty())
            paths.insert(name, path);
    }
    return paths;
}
}

TStoredSettings ReadSettings(const TIniFile& ini, const TSettingsDefaults& defaults)
{
    TStoredSettings s;
    s.top = ini.ReadInteger(Window, QStringLiteral("Top"), s.top);
    s.left = ini.ReadInteger(Window, QStringLiteral("Left"), s.left);

    s.comPort = ini.ReadInteger(Communication, QStringLiteral("COM_Port"), defaults.comPort);
    s.dataBits = ReadDataBits(ini, s.dataBits);
    s.ipAddress = ini.ReadString(Communication, QStringLiteral("IPAddress"), s.ipAddress);
    s.ipPort = ini.ReadInteger(Communication, QStringLiteral("IPPort"), s.ipPort);
    s.lanMode = ini.ReadString(Communication, QStringLiteral("CommunicationMode"), ComMode).toUpper() == LanMode;
    s.hwAddress = ReadClamped(ini, Communication, QStringLiteral("HWAddress"), defaults.hwAddress, 1, 16);
    s.serviceCard = ReadServiceCard(ini);
    // only a usable value counts; any other leaves the link's own
    const int replyTimeout = ini.ReadInteger(Communication, QStringLiteral("ReplyTimeout"), 0);
    if (replyTimeout >= ShortestReplyTimeoutMs && replyTimeout <= LongestReplyTimeoutMs)
        s.replyTimeoutMs = replyTimeout;

    s.strikeTime = ReadClamped(ini, ReaderData, QStringLiteral("StrikeTime"), s.strikeTime, 0, 255);
    s.beep = ini.ReadInteger(ReaderData, QStringLiteral("BeepFunction"), 0) == 0;
    s.doorAjarDelay = ReadClamped(ini, ReaderData, QStringLiteral("DoorAjarDelay"), s.doorAjarDelay, 0, 255);
    s.tamperSignal = ReadClamped(ini, ReaderData, QStringLiteral("TamperSignal"), s.tamperSignal, 0, 255);
    s.forcedDoorSignal = ReadClamped(ini, ReaderData, QStringLiteral("ForcedDoorSignal"), s.forcedDoorSignal, 0, 255);
    s.doorAjarSignal = ReadClamped(ini, ReaderData, QStringLiteral("DoorAjarSignal"), s.doorAjarSignal, 0, 255);
    const int function = ini.ReadInteger(ReaderData, QStringLiteral("ReaderFunction"), 0);
    s.readerFunction = function >= 0 && function < ReaderFunctionCount ? function : 0;
    s.master = ini.ReadInteger(ReaderData, QStringLiteral("Master"), 0) == 1;
    s.lastAppID = ini.ReadString(ReaderData, QStringLiteral("LastAppID"), s.lastAppID);

    s.masterFeature = ini.ReadInteger(Version, QStringLiteral("SetMaster"), 0) != 0;

    s.portPaths = ReadPortPaths(ini);
    s.recordFile = ini.ReadString(QStringLiteral("Production"), QStringLiteral("RecordFile"), {}).trimmed();
    return s;
}

void WriteSettings(TIniFile& ini, const TStoredSettings& s)
{
    const auto number = [](int value) { return QString::number(value); };
    // one replacement of the file: a program killed while saving keeps the
    // old settings whole rather than half old and half new
    ini.WriteStrings({
        {Window, QStringLiteral("Top"), number(s.top)},
        {Window, QStringLiteral("Left"), number(s.left)},

        {Communication, QStringLiteral("COM_Port"), number(s.comPort)},
        {Communication, QStringLiteral("HWAddress"), number(s.hwAddress)},
        {Communication, QStringLiteral("DataBits"), number(s.dataBits)},
        {Communication, QStringLiteral("IPAddress"), s.ipAddress},
        {Communication, QStringLiteral("IPPort"), number(s.ipPort)},
        {Communication, QStringLiteral("CommunicationMode"), s.lanMode ? LanMode : ComMode},
        {Communication, QStringLiteral("ServiceCard"), s.serviceCard},

        {ReaderData, QStringLiteral("Master"), number(s.master ? 1 : 0)},
        {ReaderData, QStringLiteral("StrikeTime"), number(s.strikeTime)},
        // the file keeps the module's sense: 0 = beep on
        {ReaderData, QStringLiteral("BeepFunction"), number(s.beep ? 0 : 1)},
        {ReaderData, QStringLiteral("DoorAjarDelay"), number(s.doorAjarDelay)},
        {ReaderData, QStringLiteral("TamperSignal"), number(s.tamperSignal)},
        {ReaderData, QStringLiteral("ForcedDoorSignal"), number(s.forcedDoorSignal)},
        {ReaderData, QStringLiteral("DoorAjarSignal"), number(s.doorAjarSignal)},
        {ReaderData, QStringLiteral("ReaderFunction"), number(s.readerFunction)},
    });
}

void ConfigureLink(TCommThread& link, const TLinkSettings& s)
{
    link.SetComPort(s.comPort);
    link.DataBits = static_cast<std::uint8_t>(s.dataBits);
    link.SetIPAddress(s.ipAddress);
    link.SetIPPort(s.ipPort);
    link.SetLANMode(s.lanMode);
}

void SaveLastAppID(TIniFile& ini, const TSettingsLock&, const QString& appID)
{
    ini.WriteString(ReaderData, QStringLiteral("LastAppID"), appID);
}

void SaveHWAddress(TIniFile& ini, const TSettingsLock&, int address)
{
    if (ini.State() != TIniFileState::Missing)
        ini.WriteInteger(Communication, QStringLiteral("HWAddress"), address);
}
