#pragma once
// Language files: the texts of the main window and of the settings dialog,
// each with its built-in English default.

#include <QHash>
#include <QString>

#include <initializer_list>
#include <optional>
#include <utility>

class QObject;
class QWidget;
class TIniFile;


// One text of the main window: where it is read and which control it sets.
struct TLanguageKey {
    const char* section;
    const char* key;
    const char* defaultText; // as UTF-8
    const char* control;     // object name of the control it sets, or "" when only kept
};

// The main window's keys in reading order.
const QList<TLanguageKey>& MainWindowLanguageKeys();
// The settings dialog's keys in reading order.
const QList<TLanguageKey>& SettingDialogLanguageKeys();

// The Find modules dialog's and the event log window's keys.
const QList<TLanguageKey>& FindModulesLanguageKeys();
const QList<TLanguageKey>& EventLogLanguageKeys();

// Reads the texts of a window's keys and puts each into its control, found
// by name under the window (or the window itself); the texts read.
QHash<QString, QString> ApplyLanguageTexts(QWidget& window, const TIniFile& ini, const QList<TLanguageKey>& keys);

// Texts read for a table of keys: key -> text (default when the key is missing,
// empty when present and empty).
QHash<QString, QString> ReadLanguageTexts(const TIniFile& ini, const QList<TLanguageKey>& keys);

// Each listed text from the texts read, keeping the default of a key they lack.
template <class TTexts>
TTexts TakeTexts(const QHash<QString, QString>& texts,
                 std::initializer_list<std::pair<const char*, QString TTexts::*>> fields)
{
    TTexts taken;
    for (const auto& [key, field] : fields)
        taken.*field = texts.value(QString::fromUtf8(key), taken.*field);
    return taken;
}

// The seven texts the main window keeps for later use.
struct TKeptTexts {
    QString mainMenuStart = "Start";
    QString mainMenuStop = "Stop";
    QString dataTransferFailed = "Data transfer failed!";
    QString dataTransferOK = "Data transfer OK.";
    QString dataTransfer = "Transfering data...";
    QString connected = "Connected.";
    QString timedOut = "Timed out!";
};
TKeptTexts KeptTexts(const QHash<QString, QString>& texts);

// The tool tips of the status symbols: "Tamper: active".
struct TIndicatorHints {
    QString tamper = "Tamper";
    QString forcedDoor = "Forced door";
    QString doorAjar = "Door ajar";
    QString input1 = "Input 1";
    QString input2 = "Input 2";
    QString relay = "Relay";
    QString active = "active";
    QString idle = "idle";
    QString unknown = "not known while the module does not answer";
    QString lightning = "Lightning: pulls the relay for the strike time";
    // a symbol's name and its state; no state while the module is not heard
    // (as PlainToolTip makes it)
    QString Hint(const QString& symbol, std::optional<bool> active) const;
};

// A tool tip shows what looks like markup as markup: such a text of a
// language file goes as markup that shows it literally, any other as it is.
QString PlainToolTip(const QString& text);
TIndicatorHints IndicatorHints(const QHash<QString, QString>& texts);

// Puts a text into a control: an action's or a button's text, a menu's title,
// a label's text, or the title of a window.
void SetCaption(QObject* control, const QString& text);
