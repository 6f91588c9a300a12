#include "ui/LanguageU.h"

#include "files/IniFile.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTextDocument>


const QList<TLanguageKey>& MainWindowLanguageKeys()
{
    static const QList<TLanguageKey> keys = {
        {"MainWindow", "MainMenu-Program", "&Program", "Program1"},
        {"MainWindow", "MainMenu-Setting", "&Setting...", "Nastaven1"},
        {"MainWindow", "MainMenu-Exit", "Exit...", "Konec1"},
        {"MainWindow", "MainMenu-Start", "Start", "Start1"},
        {"MainWindow", "MainMenu-Stop", "Stop", ""},
        {"MainWindow", "MainMenu-Write", "&Write", "WriteMI"},
        {"MainWindow", "ModuleStatus", "Module status:", "ModuleStatusLB"},
        {"MainWindow", "LastCard", "Last card:", "LastCardLB"},
        {"MainWindow", "Code", "Code:", "CodeLB"},
        {"MainWindow", "ModuleInformation", "Module information:", "FirmwareVersionLB"},
        {"MainWindow", "HWAddress", "HW Address", "Label9"},
        {"MainWindow", "HWAddress-SetHWAddressButton", "Set", "SetAddressBtn"},
        {"MainWindow", "HWAddress-SetHWAddressWithCardButton", "Set by card", "Button1"},
        {"MainWindow", "GeneralProperties", "General properties", "GeneralPropertiesLB"},
        {"MainWindow", "GeneralProperties-StrikeTime", "Strike time:", "StrikeTimeLB"},
        {"MainWindow", "GeneralProperties-Beep", "Beep", "BeepCB"},
        {"MainWindow", "GeneralProperties-DoorAjarDelay", "Door ajar delay:", "ForcedDoorDelayLB"},
        {"MainWindow", "GeneralProperties-TamperSignal", "Tamper signal:", "TamperSignalLB"},
        {"MainWindow", "GeneralProperties-ForcedDoorSignal", "Forced door signal:", "ForcedDoorSignalLB"},
        {"MainWindow", "GeneralProperties-DoorAjarSignal", "Door ajar signal:", "DoorAjarSignalLB"},
        {"MainWindow", "GeneralProperties-ReaderFunction", "Function:", "InputFuncLB"},
        {"MainWindow", "General-ReaderFunction-Handle", "Door + handle", "InputFunctionCB#0"},
        {"MainWindow", "General-ReaderFunction-Button", "Door + REX button", "InputFunctionCB#1"},
        {"MainWindow", "MasterReader", "MasterReader", "MasterReaderCB"},
        {"MainWindow", "MasterReader+Card", "\"+\" card:", "AddCardLB"},
        // the key of the "-" card really ends in a plus sign
        {"MainWindow", "MasterReader-Card+", "\"-\" card:", "DelCardLB"},
        {"MainWindow", "MasterReader-AppID", "Serial no.:", "AppIDLB"},
        {"Messages", "DataTransferFailed", "Data transfer failed!", ""},
        {"Messages", "DataTransferOK", "Data transfer OK.", ""},
        {"Messages", "DataTransfer", "Transfering data...", ""},
        {"Messages", "Connected", "Connected.", ""},
        {"Messages", "TimedOut", "Timed out!", ""},
        // the status symbols' tool tips: what each shows, then its state
        {"Hints", "Tamper", "Tamper", ""},
        {"Hints", "ForcedDoor", "Forced door", ""},
        {"Hints", "DoorAjar", "Door ajar", ""},
        {"Hints", "Input1", "Input 1", ""},
        {"Hints", "Input2", "Input 2", ""},
        {"Hints", "Relay", "Relay", ""},
        {"Hints", "StateActive", "active", ""},
        {"Hints", "StateIdle", "idle", ""},
        {"Hints", "StateUnknown", "not known while the module does not answer", ""},
        {"Hints", "Lightning", "Lightning: pulls the relay for the strike time", ""},
        // the items after the designs' own, each in its window's section
        {"FindModules", "MainMenu-FindModules", "Find modules...", "FindModulesMI"},
        {"EventLog", "MainMenu-EventLog", "Event log...", "EventLogMI"},
    };
    return keys;
}

const QList<TLanguageKey>& SettingDialogLanguageKeys()
{
    static const QList<TLanguageKey> keys = {
        {"General", "OKButton", "OK", "OKBtn"},
        {"General", "CancelButton", "Cancel", "CancelBtn"},
        // the dialog's own name: its title
        {"SettingDialog", "Caption", "Setting", "SettingDlg"},
        {"SettingDialog", "ComPort", "COM Port:", "ComPortLB"},
        {"SettingDialog", "DataBits", "Data bits:", "DataBitsLB"},
        {"SettingDialog", "ServiceCard", "Service card:", "ServiceCardLB"},
        {"SettingDialog", "SerialCommunication", "Serial communication", "SerialRadioButton"},
        {"SettingDialog", "NetworkCommunication", "Network communication", "NetworkRadioButton"},
        {"SettingDialog", "IPAddress", "IP address:", "IPAddressLB"},
        {"SettingDialog", "IPPort", "IP port:", "IPPortLB"},
    };
    return keys;
}

const QList<TLanguageKey>& FindModulesLanguageKeys()
{
    static const QList<TLanguageKey> keys = {
        {"FindModules", "Caption", "Find modules", "FindModulesDlg"},
        {"FindModules", "From", "Addresses:", "FromLB"},
        {"FindModules", "To", "to", "ToLB"},
        {"FindModules", "Find", "Find", "FindBtn"},
        {"FindModules", "Stop", "Stop", "StopBtn"},
        {"FindModules", "Choose", "Choose", "ChooseBtn"},
        {"FindModules", "Close", "Close", "CloseBtn"},
        {"FindModules", "Address", "Address", ""},
        {"FindModules", "Firmware", "Firmware", ""},
        {"FindModules", "SerialNumber", "Serial no.", ""},
        {"FindModules", "NoneFound", "No module answered.", ""},
        {"FindModules", "LinkLost", "The link was lost:", ""},
    };
    return keys;
}

const QList<TLanguageKey>& EventLogLanguageKeys()
{
    static const QList<TLanguageKey> keys = {
        {"EventLog", "Caption", "Event log", "EventLogWindow"},
        {"EventLog", "Export", "Export CSV...", "ExportBtn"},
        {"EventLog", "Close", "Close", "CloseBtn"},
        {"EventLog", "ExportFailed", "The event log could not be written to %1.", ""},
        // the column headings, in the log's order of fields
        {"EventLog", "Column-time", "Time", ""},
        {"EventLog", "Column-event", "Event", ""},
        {"EventLog", "Column-address", "Address", ""},
        {"EventLog", "Column-card", "Card", ""},
        {"EventLog", "Column-code", "Code", ""},
        {"EventLog", "Column-signal", "Signal", ""},
        {"EventLog", "Column-state", "State", ""},
        {"EventLog", "Column-result", "Result", ""},
        {"EventLog", "Column-serialNumber", "Serial no.", ""},
        {"EventLog", "Column-method", "Method", ""},
        {"EventLog", "Column-reason", "Reason", ""},
    };
    return keys;
}

QHash<QString, QString> ApplyLanguageTexts(QWidget& window, const TIniFile& ini, const QList<TLanguageKey>& keys)
{
    const QHash<QString, QString> texts = ReadLanguageTexts(ini, keys);
    for (const TLanguageKey& key : keys) {
        const QString control = QString::fromUtf8(key.control);
        if (control.isEmpty())
            continue;
        QObject* target = control == window.objectName() ? &window : window.findChild<QObject*>(control);
        SetCaption(target, texts.value(QString::fromUtf8(key.key)));
    }
    return texts;
}

QHash<QString, QString> ReadLanguageTexts(const TIniFile& ini, const QList<TLanguageKey>& keys)
{
    QHash<QString, QString> texts;
    for (const TLanguageKey& k : keys) {
        const QString key = QString::fromUtf8(k.key);
        texts.insert(key, ini.ReadString(QString::fromUtf8(k.section), key, QString::fromUtf8(k.defaultText)));
    }
    return texts;
}

TKeptTexts KeptTexts(const QHash<QString, QString>& texts)
{
    using T = TKeptTexts;
    return TakeTexts<T>(texts, {{"MainMenu-Start", &T::mainMenuStart},
                                {"MainMenu-Stop", &T::mainMenuStop},
                                {"DataTransferFailed", &T::dataTransferFailed},
                                {"DataTransferOK", &T::dataTransferOK},
                                {"DataTransfer", &T::dataTransfer},
                                {"Connected", &T::connected},
                                {"TimedOut", &T::timedOut}});
}

TIndicatorHints IndicatorHints(const QHash<QString, QString>& texts)
{
    using T = TIndicatorHints;
    return TakeTexts<T>(texts, {{"Tamper", &T::tamper},
                                {"ForcedDoor", &T::forcedDoor},
                                {"DoorAjar", &T::doorAjar},
                                {"Input1", &T::input1},
                                {"Input2", &T::input2},
                                {"Relay", &T::relay},
                                {"StateActive", &T::active},
                                {"StateIdle", &T::idle},
                                {"StateUnknown", &T::unknown},
                                {"Lightning", &T::lightning}});
}

QString TIndicatorHints::Hint(const QString& symbol, std::optional<bool> active) const
{
    return PlainToolTip(QStringLiteral("%1: %2").arg(symbol, !active ? unknown : *active ? this->active : idle));
}

QString PlainToolTip(const QString& text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap) : text;
}

void SetCaption(QObject* control, const QString& text)
{
    if (auto* action = qobject_cast<QAction*>(control))
        action->setText(text);
    else if (auto* menu = qobject_cast<QMenu*>(control))
        menu->setTitle(text);
    else if (auto* label = qobject_cast<QLabel*>(control)) {
        // a language file is the words of whoever wrote it, never markup
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
    }
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(text);
    else if (auto* widget = qobject_cast<QWidget*>(control); widget && widget->isWindow())
        widget->setWindowTitle(text);
}
