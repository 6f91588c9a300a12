#pragma once
// TMainWindow: the program's one window. It owns the link to the module and
// the settings and language files, shows the module's state, opens and closes
// the link, assigns the bus address and holds the module's configuration.

#include "base/CommTypesU.h"
#include "files/AppFoldersU.h"
#include "module/ModuleRepliesU.h"
#include "ui/LanguageU.h"
#include "ui/ProgramTextsU.h"

#include <QCoreApplication>
#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <memory>

class QTimer;
class TBrowserWindow;
class TEventLogWindow;
class TFindModulesDlg;
class TCommThread;
class TIniFile;
class TModuleSession;
class TSettingDlg;
class TSessionEventLog;
class TProductionRows;
class TSessionRecord;
class TSettingsLock;
struct TMasterConfiguration;
struct TModuleIdentity;
struct TReaderConfiguration;
struct TStoredSettings;
struct TWriteFailure;

namespace Ui {
class MainWindow;
}

class TMainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Raises ESettingsLocked when another program holds the settings file.
    explicit TMainWindow(const TAppFolders& folders, QWidget* parent = nullptr);
    // A portable program in appDir, with or without its trailing separator.
    explicit TMainWindow(const QString& appDir, QWidget* parent = nullptr);
    ~TMainWindow() override;

    static constexpr int ClientWidth = 272;
    static constexpr int ClientHeight = 460;
    // the 410-pixel window of the designs, less its caption, menu and borders
    static constexpr int ClientHeightWithoutMaster = 356;

    TCommThread& CommThread() { return *FCommThread; }
    TModuleSession& Session() { return *FSession; }
    TSessionEventLog& EventLog() { return *FEventLog; }
    const TAppFolders& Folders() const { return FFolders; }
    // The language file the settings dialog reads its texts from.
    const TIniFile& LanguageIni() const { return *FLanguageIni; }
    // The dialog Nastaven1 opens; created by the program after this window.
    void SetSettingDialog(TSettingDlg* dialog);
    // The certificate window that PrintBtn opens; it outlives this window's use of it.
    void SetBrowserWindow(TBrowserWindow* window) { FBrowserWindow = window; }
    // The information sound: the desktop's sound event of that name unless replaced.
    void SetBeepHook(std::function<void(const char* soundEvent)> beep) { FBeep = std::move(beep); }

    // Handlers, named as the designs name them.
    void Start1Click();
    void Nastaven1Click();
    void Konec1Click();
    void Timer1Timer();
    void Timer2Timer();
    void SlowTimerTimer();
    void SpeedButton1Click();
    void SetAddressSEChange();
    void SetAddressBtnClick();
    void Button1Click();
    void SetAddCardBtnClick();
    void SetDelCardBtnClick();
    void WriteMIClick();
    void PrintBtnClick();
    void FindModulesMIClick();
    void EventLogMIClick();
    // The serial number the certificate names: the one read from the module
    // at the selected address; empty until one is known.
    QString CertificateSerialNumber() const;
    void UpdateControls();

    // What the module session said, shown.
    void CommThreadOpen();
    void CommThreadClose(const QString& reason);
    void CommThreadReply();
    void CommThreadTimeout();
    void CommThreadChecksumError();
    void CommThreadError(const QString& reason);
    void StatusReply(const ModuleReplies::TModuleStatus& status);
    void ShowIdentity(const TModuleIdentity& identity);
    void ShowWriteFailure(const TWriteFailure& failure);
    void ShowDatabaseFailure(const QString& reason);
    // A Write the session took: the serial-number field moves on.
    void WriteStarted(const std::optional<TMasterConfiguration>& master);
    void ShowTransfer();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    bool FormCloseQuery();

    void SetUpControls();
    void ConnectControls();
    void ConnectSession();

    void LoadLanguage(const TIniFile& ini);
    void LoadSettings();
    void SaveSettings();
    void ApplyLinkSettings(const TStoredSettings& s);
    void ApplyReaderSettings(const TStoredSettings& s);
    void SetMaster(bool enabled);
    void SetClientHeight(int height);

    void BlankPreset();
    void GreyPreset();
    void SetIndicators(std::uint32_t color);
    void ShowStatusFlags(std::uint8_t flags);
    void ShowCard(const ModuleReplies::TModuleStatus& status);
    void SetLamp(std::uint32_t brush);
    void SetCardLabelsColor(std::uint32_t color);
    void ShowIndicatorHints(std::optional<std::uint8_t> flags);
    void SetCardFrameColor(std::uint32_t color);
    void ShowStartItem(bool start);
    void SetLinkReason(const QString& reason);
    void ShowLampHint();
    QString LinkText() const;

    bool MasterWrite() const;
    // The line's database numbers the master writes (or refuses them), not the serial-number field.
    bool LineNumbers() const;
    TReaderConfiguration ReaderConfiguration() const;

    std::unique_ptr<Ui::MainWindow> ui;
    QTimer* Timer1;
    QTimer* Timer2;
    // a typed address is applied once the technician stops typing
    QTimer* FAddressTyped;
    QIcon FStartIcon;
    QIcon FStopIcon;

    TBrowserWindow* FBrowserWindow = nullptr;
    std::unique_ptr<TCommThread> FCommThread;
    std::unique_ptr<TModuleSession> FSession; // goes before the link it listens to
    TAppFolders FFolders;
    QString FServiceCard;
    bool FBeepPending = false;
    QString FCertifiedSerial; // the certificate shown since the last Write
    std::unique_ptr<TSettingsLock> FSettingsLock;
    std::unique_ptr<TIniFile> FSettingsIni;
    bool FSettingsSavable = true; // false: the file is no text and stays as it is
    std::unique_ptr<TIniFile> FLanguageIni;
    QPointer<TSettingDlg> FSettingDlg;
    // the session's children: they go with it
    TSessionEventLog* FEventLog = nullptr;
    TSessionRecord* FRecord = nullptr; // with [Production] RecordFile= only
    TProductionRows* FProductionRows = nullptr; // with [Production] Database= only
    QString FDatabaseProblem; // a Database= that is no usable URL: master writes refused
    QString FDatabaseText;    // the status text while the line's database is waited for, or why it refused
    QPointer<TFindModulesDlg> FFindModulesDlg;
    QPointer<TEventLogWindow> FEventLogWindow;

    TKeptTexts FTexts;
    TIndicatorHints FHints;
    TProgramTexts FProgramTexts;
    TReasonWords FLinkReason; // why the link last failed, until the next Start or reply
    std::optional<std::uint8_t> FHintsShown; // the flags the tips show; none: no state
    std::function<void(const char*)> FBeep;
};
