#include "tools/vyxctl/CtlSession.h"

#include "tools/vyxctl/CtlTrace.h"
#include "link/CommThreadU.h"
#include "ports/ComPort.h"
#include "session/ModuleSessionU.h"
#include "session/WriteRecordU.h"
#include "ports/PortNames.h"
#include "ports/TerminationSignals.h"
#include "files/AppFoldersU.h"
#include "files/SettingsLockU.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

namespace {
// The link's own connect time-out ends a hopeless connect sooner; this only
// keeps vyxctl from waiting for ever.
constexpr int OpenWaitMs = 15000;
constexpr int CloseWaitMs = 3000;

TCommThread::TOptions LinkOptions(const TCtlCommandLine& cl, const TLinkTiming& pace)
{
    TCommThread::TOptions options;
    if (cl.trace)
        options.trace = TraceTo(stderr);
    options.timing = pace;
    return options;
}
}

QString SettingsFilePath(const TCtlCommandLine& cl)
{
    if (!cl.settingsFile.isEmpty())
        return cl.settingsFile;
    return AppFolders(QCoreApplication::applicationDirPath()).settingsFile;
}

// A settings file that cannot be read would leave every value at its
// built-in default, and a write would send those to the module: a misspelt
// --settings must stop the command. Only the window's file may be missing.
void CheckSettingsFile(const TIniFile& ini, bool named)
{
    switch (ini.State()) {
    case TIniFileState::Text:
        return;
    case TIniFileState::Missing:
        if (named)
            throw EUsage(QStringLiteral("--settings: %1 does not exist").arg(ini.FileName()));
        return;
    case TIniFileState::Unreadable:
        throw EUsage(QStringLiteral("the settings file %1 cannot be read").arg(ini.FileName()));
    case TIniFileState::NotText:
    case TIniFileState::NotRegular:
        throw EUsage(ini.Refusal());
    }
}

namespace {
// write --master stores the next serial number, assign the new address
bool WritesSettings(const TCtlCommandLine& cl)
{
    return (cl.command == QLatin1String("write") && cl.Has(QStringLiteral("--master")))
        || cl.command.startsWith(QLatin1String("assign"));
}
}

TCtlSession::TCtlSession(const TCtlCommandLine& commandLine, const TLinkTiming& pace)
    : FIni(SettingsFilePath(commandLine))
    , FLink(std::make_unique<TCommThread>(LinkOptions(commandLine, pace)))
    , FSignals(std::make_unique<TTerminationSignals>())
{
    CheckSettingsFile(FIni, !commandLine.settingsFile.isEmpty());
    // before the file is read: the serial number read is then the one to use
    if (WritesSettings(commandLine))
        FLock = std::make_unique<TSettingsLock>(FIni.FileName());
    FSettings = ReadSettings(FIni, TSettingsDefaults{FLink->GetComPort(), 1});
    PortNames::SetConfiguredPaths(FSettings.portPaths);
    Apply(commandLine);

    QString error;
    if (FSignals->Install(error))
        QObject::connect(FSignals.get(), &TTerminationSignals::Received, [this] { FInterrupted = true; });

    FModule = std::make_unique<TModuleSession>(*FLink);
    FModule->SetFollowsIdentity(false);
    FModule->SelectAddress(FLink->HWAddress.load());
    QObject::connect(FModule.get(), &TModuleSession::Opened, [this] { FOpened = true; });
    QObject::connect(FModule.get(), &TModuleSession::Closed, [this] {
        FOpenFailed = !FOpened;
        FLinkLost = FOpened;
    });
    QObject::connect(FModule.get(), &TModuleSession::LinkFailed, [this] {
        // a link that is still up goes on; one that is down is lost or never came
        if (FLink->IsActive() || FLink->IsOpening())
            return;
        FOpenFailed = !FOpened;
        FLinkLost = FOpened;
    });
}

TCtlSession::~TCtlSession()
{
    Close();
}

// Each option over the settings file's value, then the link set up from
// them as the window sets it up.
void TCtlSession::Apply(const TCtlCommandLine& cl)
{
    TStoredSettings s = FSettings;
    QString devicePath;
    if (!cl.lan.isEmpty()) {
        const int colon = int(cl.lan.lastIndexOf(u':'));
        if (colon <= 0)
            throw EUsage(QStringLiteral("--lan: \"%1\" is not HOST:PORT").arg(cl.lan));
        s.ipAddress = cl.lan.left(colon);
        s.ipPort = WholeNumber(QStringLiteral("--lan port"), cl.lan.mid(colon + 1), 1, 65535);
        s.lanMode = true;
    }
    if (!cl.serial.isEmpty()) {
        static const QRegularExpression comName(QStringLiteral("^COM([1-8])$"),
                                                QRegularExpression::CaseInsensitiveOption);
        if (const QRegularExpressionMatch m = comName.match(cl.serial); m.hasMatch())
            s.comPort = m.captured(1).toInt();
        else if (cl.serial.startsWith(u'/'))
            devicePath = cl.serial;
        else
            throw EUsage(QStringLiteral("--serial: \"%1\" is neither COM1..COM8 nor a device path").arg(cl.serial));
        s.lanMode = false;
    }
    if (cl.mode)
        s.dataBits = *cl.mode;
    ConfigureLink(*FLink, s.Link());
    if (const std::optional<int> replyTimeout = cl.replyTimeoutMs ? cl.replyTimeoutMs : s.replyTimeoutMs) {
        TLinkTiming timing = FLink->Timing();
        timing.replyTimeout = std::chrono::milliseconds(*replyTimeout);
        FLink->SetTiming(timing);
    }
    if (!devicePath.isEmpty())
        FLink->ComPort().SetPort(devicePath);
    FLink->HWAddress = static_cast<std::uint8_t>(cl.address.value_or(s.hwAddress));
}

std::uint8_t TCtlSession::Address() const
{
    return FLink->HWAddress.load();
}

QString TCtlSession::Endpoint() const
{
    return LinkEndpoint(*FLink);
}

QString TCtlSession::LineForm() const
{
    return LinkLineForm(*FLink);
}

QString TCtlSession::Where() const
{
    return FLink->LANMode() ? Endpoint() : QStringLiteral("%1 (%2)").arg(Endpoint(), LineForm());
}

bool TCtlSession::Open(QString& why)
{
    FModule->Open();
    // a connect that fails reports an error, a failed name lookup a close
    const TWait wait = WaitFor([this] { return FOpened || FOpenFailed; }, OpenWaitMs);
    if (FOpened)
        return true;
    if (wait == TWait::Interrupted)
        why = QStringLiteral("interrupted while opening %1").arg(Where());
    else if (!FLink->LastError().isEmpty())
        why = QStringLiteral("%1 (%2)").arg(FLink->LastError(), Origin());
    else
        why = QStringLiteral("cannot open %1 (%2)").arg(Where(), Origin());
    return false;
}

QString TCtlSession::Origin() const
{
    const QString file = FIni.FileName();
    QString origin = QFileInfo::exists(file)
                         ? QStringLiteral("settings: %1").arg(file)
                         : QStringLiteral("settings: built-in defaults, no file %1").arg(file);
    const QString port = FLink->ComPort().Port();
    if (!FLink->LANMode() && !port.startsWith(u'/'))
        origin.prepend(QStringLiteral("%1; ").arg(port));
    return origin;
}

void TCtlSession::SaveAddress(int address)
{
    SaveHWAddress(FIni, *FLock, address);
}

TCtlSession::TWait TCtlSession::WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    if (timeoutMs >= 0)
        deadline.start(timeoutMs);
    while (!done()) {
        if (FInterrupted)
            return TWait::Interrupted;
        if (FLinkLost)
            return TWait::LinkLost;
        if (timeoutMs >= 0 && !deadline.isActive())
            return TWait::TimedOut;
        // the deadline's own event wakes this up at the latest
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return TWait::Done;
}

QString TCtlSession::LostReason() const
{
    return WithLinkReason(QStringLiteral("the link to %1 was lost").arg(Where()));
}

QString TCtlSession::WithLinkReason(const QString& text) const
{
    const QString reason = FLink->LastError();
    return reason.isEmpty() ? text : QStringLiteral("%1: %2").arg(text, reason);
}

void TCtlSession::Close()
{
    if (!FLink->IsActive())
        return;
    FLink->Close();
    WaitFor([this] { return !FLink->IsActive(); }, CloseWaitMs);
}
