#pragma once
// TMainWindow: the program's one window. It owns the link to the module and
// the settings and language files, shows the module's state, opens and closes
// the link, assigns the bus address and holds the module's configuration.

#include "base/CommTypesU.h"
#include "files/AppFoldersU.h"
#include "module/ModuleRepliesU.h"
#include "module/ModuleRequestsU.h"
#include "module/TransferStateU.h"
#include "ui/LanguageU.h"

#include <QCoreApplication>
#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QTimer;
class TBrowserWindow;
class TCommThread;
class TIniFile;
class TSettingDlg;
class TSettingsLock;
struct TReaderConfiguration;
struct TStoredSettings;

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
    void SetAddressTimerTimer();
    void SetAddCardBtnClick();
    void SetDelCardBtnClick();
    void WriteMIClick();
    void PrintBtnClick();
    // The serial number the certificate names: the one the last master write
    // sent, else the AppID field's text.
    QString CertificateSerialNumber() const;
    void UpdateControls();

    void CommThreadOpen(TCommThread* sender);
    void CommThreadClose(TCommThread* sender);
    void CommThreadReply(TCommThread* sender, const TCanonicalFrame& reply);
    void CommThreadTimeout(TCommThread* sender);
    void CommThreadChecksumError(TCommThread* sender);
    void CommThreadError(TCommThread* sender);
    void CommThreadCommandDone(TCommThread* sender);
    void CommThreadCommandTimeout(TCommThread* sender);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    bool FormCloseQuery();

    void SetUpControls();
    void ConnectControls();
    void WireLinkEvents();
    void DetachLinkEvents();

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
    void ShowTransfer();
    void ShowIndicatorHints(std::optional<std::uint8_t> flags);
    void SetCardFrameColor(std::uint32_t color);
    void ShowStartItem(bool start);

    void FirmwareReply(const TByteString& payload);
    void RegisterReply(const TByteString& payload);
    void StatusReply(const TByteString& payload);

    std::uint8_t BusAddress() const;
    bool MasterWrite() const;
    TReaderConfiguration ReaderConfiguration() const;
    void QueueFirmwareRequest();
    void QueueSerialRequests();
    void QueueSetByCard();
    void ResetInformationLabels();

    std::unique_ptr<Ui::MainWindow> ui;
    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* SetAddressTimer;
    QTimer* SlowTimer;
    QIcon FStartIcon;
    QIcon FStopIcon;

    TBrowserWindow* FBrowserWindow = nullptr;
    std::unique_ptr<TCommThread> FCommThread;
    QString FWrittenAppID;
    TAppFolders FFolders;
    QString FServiceCard;
    bool FBeepPending = false;
    bool FFirmwareRequestPending = false;
    bool FSerialRequestPending = false;
    std::array<std::uint8_t, ModuleRequests::Register::SerialByteCount> FSerialBytes{};
    std::array<bool, ModuleRequests::Register::SerialByteCount> FSerialReceived{};
    std::unique_ptr<TSettingsLock> FSettingsLock;
    std::unique_ptr<TIniFile> FSettingsIni;
    bool FSettingsSavable = true; // false: the file is no text and stays as it is
    std::unique_ptr<TIniFile> FLanguageIni;
    QPointer<TSettingDlg> FSettingDlg;

    TKeptTexts FTexts;
    TIndicatorHints FHints;
    std::optional<std::uint8_t> FHintsShown; // the flags the tips show; none: no state
    TTransferState FTransfer;
    std::function<void(const char*)> FBeep;
};
