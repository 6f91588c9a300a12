#pragma once
// The texts the program adds to the language tables, from the language file's
// own sections, English built in: the link in the window's words (why it
// failed, short for the status bar and whole for the tool tips, and which
// transport it uses), the settings dialog's hints, the lock message and the
// wait for a line's database.

#include "ui/LanguageU.h"

#include <QString>

class ESettingsLocked;
class TIniFile;
struct TLinkFailure;

// The texts of the sections [Reasons], [Link], [SettingDialogHints], [Lock] and [Production].
const QList<TLanguageKey>& ProgramTextKeys();

struct TProgramTexts {
    // [Reasons]: a short form for the status bar, a whole sentence for tool tips
    QString refusedShort, refused;
    QString closedShort, closed;
    QString notPresentShort, notPresent;
    QString inUseShort, inUse;
    QString noPermissionShort, noPermission;
    QString hostNotFoundShort, hostNotFound;
    // [Link]
    QString linkTcp, linkSerial, linkNineBit, linkEightBit;
    // [SettingDialogHints]
    QString deviceNotPresent, deviceNoPermission, deviceNoPermissionGroup, deviceError;
    QString ipPortHint, hostEmpty, hostBlanks;
    // [Lock]
    QString settingsInUse, settingsNotLockable;
    // [Production]
    QString waitingForDatabase;
};
TProgramTexts ProgramTexts(const TIniFile& ini);

struct TReasonWords {
    QString shortText; // for the status bar
    QString sentence;  // for the tool tips
};
// A failure of a known kind in the language's words; any other keeps the link's sentence.
TReasonWords ReasonWords(const TLinkFailure& failure, const TProgramTexts& texts);

// "TCP 192.168.1.10:10001", "COM2 (/dev/ttyUSB0), 9-bit".
QString TcpLinkText(const TProgramTexts& texts, const QString& host, int port);
QString SerialLinkText(const TProgramTexts& texts, int comPort, const QString& device, bool nineBit);

// Why the window cannot have its settings file.
QString LockMessage(const ESettingsLocked& locked, const TProgramTexts& texts);
