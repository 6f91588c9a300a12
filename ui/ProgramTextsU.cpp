#include "ui/ProgramTextsU.h"

#include "files/IniFile.h"
#include "files/SettingsLockU.h"
#include "link/CommThreadU.h"


const QList<TLanguageKey>& ProgramTextKeys()
{
    static const QList<TLanguageKey> keys = {
        {"Reasons", "RefusedShort", "%1 refused", ""},
        {"Reasons", "Refused", "%1 refused the connection", ""},
        {"Reasons", "ClosedShort", "Closed by the device server", ""},
        {"Reasons", "Closed", "Connection closed by the device server", ""},
        {"Reasons", "NotPresentShort", "%1 not present", ""},
        {"Reasons", "NotPresent", "%1 is not present", ""},
        {"Reasons", "InUseShort", "%1 in use", ""},
        {"Reasons", "InUse", "%1 is in use by another program", ""},
        {"Reasons", "NoPermissionShort", "No permission: %1", ""},
        {"Reasons", "NoPermission", "No permission for %1: add the user to the dialout group and log in again", ""},
        {"Reasons", "HostNotFoundShort", "Unknown host %1", ""},
        {"Reasons", "HostNotFound", "Host %1 not found", ""},
        {"Link", "Tcp", "TCP %1:%2", ""},
        // port name, device, data bits
        {"Link", "Serial", "%1 (%2), %3", ""},
        {"Link", "NineBit", "9-bit", ""},
        {"Link", "EightBit", "8-bit", ""},
        {"SettingDialogHints", "DeviceNotPresent", "%1 not present", ""},
        {"SettingDialogHints", "DeviceNoPermission", "%1: no permission", ""},
        {"SettingDialogHints", "DeviceNoPermissionGroup", "%1: no permission, see the %2 group", ""},
        // device, the system's words
        {"SettingDialogHints", "DeviceError", "%1: %2", ""},
        {"SettingDialogHints", "IPPort", "A whole number from 1 to 65535", ""},
        {"SettingDialogHints", "HostEmpty", "Enter the device server's host", ""},
        {"SettingDialogHints", "HostBlanks", "A host holds no blanks", ""},
        // settings file, program, process number, computer
        {"Lock", "SettingsInUse", "The settings file %1 is in use by %2 (process %3 on %4); end that program first", ""},
        // settings file, lock file
        {"Lock", "SettingsNotLockable", "The settings file %1 cannot be locked (%2)", ""},
        {"Production", "WaitingForDatabase", "Waiting for the database...", ""},
    };
    return keys;
}

TProgramTexts ProgramTexts(const TIniFile& ini)
{
    // keys are unique over the sections, so one table of texts serves them all
    const QHash<QString, QString> read = ReadLanguageTexts(ini, ProgramTextKeys());
    using T = TProgramTexts;
    return TakeTexts<T>(read, {
             {"RefusedShort", &T::refusedShort},
             {"Refused", &T::refused},
             {"ClosedShort", &T::closedShort},
             {"Closed", &T::closed},
             {"NotPresentShort", &T::notPresentShort},
             {"NotPresent", &T::notPresent},
             {"InUseShort", &T::inUseShort},
             {"InUse", &T::inUse},
             {"NoPermissionShort", &T::noPermissionShort},
             {"NoPermission", &T::noPermission},
             {"HostNotFoundShort", &T::hostNotFoundShort},
             {"HostNotFound", &T::hostNotFound},
             {"Tcp", &T::linkTcp},
             {"Serial", &T::linkSerial},
             {"NineBit", &T::linkNineBit},
             {"EightBit", &T::linkEightBit},
             {"DeviceNotPresent", &T::deviceNotPresent},
             {"DeviceNoPermission", &T::deviceNoPermission},
             {"DeviceNoPermissionGroup", &T::deviceNoPermissionGroup},
             {"DeviceError", &T::deviceError},
             {"IPPort", &T::ipPortHint},
             {"HostEmpty", &T::hostEmpty},
             {"HostBlanks", &T::hostBlanks},
             {"SettingsInUse", &T::settingsInUse},
             {"SettingsNotLockable", &T::settingsNotLockable},
             {"WaitingForDatabase", &T::waitingForDatabase}});
}

QString LockMessage(const ESettingsLocked& locked, const TProgramTexts& texts)
{
    const ESettingsLocked::THolder& h = locked.Holder();
    if (h.program.isEmpty())
        return texts.settingsNotLockable.arg(h.settingsFile, h.lockFile);
    return texts.settingsInUse.arg(h.settingsFile, h.program, QString::number(h.pid), h.host);
}

TReasonWords ReasonWords(const TLinkFailure& failure, const TProgramTexts& texts)
{
    using TKind = TLinkFailure::TKind;
    const auto words = [&](const QString& shortText, const QString& sentence) {
        return failure.subject.isEmpty() ? TReasonWords{shortText, sentence}
                                         : TReasonWords{shortText.arg(failure.subject), sentence.arg(failure.subject)};
    };
    switch (failure.kind) {
    case TKind::Refused: return words(texts.refusedShort, texts.refused);
    case TKind::ClosedByServer: return words(texts.closedShort, texts.closed);
    case TKind::NotPresent: return words(texts.notPresentShort, texts.notPresent);
    case TKind::InUse: return words(texts.inUseShort, texts.inUse);
    case TKind::NoPermission: return words(texts.noPermissionShort, texts.noPermission);
    case TKind::HostNotFound: return words(texts.hostNotFoundShort, texts.hostNotFound);
    case TKind::Other: break;
    }
    return {failure.sentence, failure.sentence};
}

QString TcpLinkText(const TProgramTexts& texts, const QString& host, int port)
{
    return texts.linkTcp.arg(host).arg(port);
}

QString SerialLinkText(const TProgramTexts& texts, int comPort, const QString& device, bool nineBit)
{
    return texts.linkSerial.arg(QStringLiteral("COM%1").arg(comPort), device,
                                nineBit ? texts.linkNineBit : texts.linkEightBit);
}
