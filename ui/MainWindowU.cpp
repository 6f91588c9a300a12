#include "ui/MainWindowU.h"

#include "ui_MainWindow.h"

#include "base/AppErrors.h"
#include "link/CommThreadU.h"
#include "ports/PortNames.h"
#include "ui/BrowserWindowU.h"
#include "module/CardNumbersU.h"
#include "module/ConfigurationWriteU.h"
#include "ui/DesktopSoundU.h"
#include "ui/WindowPlacementU.h"
#include "ui/ProgramTextsU.h"
#include "ui/EventLogU.h"
#include "ui/FindModulesU.h"
#include "files/CertificateTemplateU.h"
#include "files/IniFile.h"
#include "ui/MenuBarStyleU.h"
#include "module/ModuleRepliesU.h"
#include "session/ModuleSessionU.h"
#include "session/ProductionRowU.h"
#include "session/SessionEventsU.h"
#include "session/WriteRecordU.h"
#include "ui/SettingDlgU.h"
#include "files/SettingsLockU.h"
#include "files/SettingsU.h"
#include "ui/TypingLimitU.h"
#include "ui/WheelFocusU.h"
#include "widgets/Colors.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QFont>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {
constexpr char WindowTitle[] = "Vyx voze Radavo 2.2";
constexpr char FirmwareNotKnown[] = "fw: NA";
constexpr char SerialNotKnown[] = "sn: NA";

constexpr int StatusTextPanel = 2;
constexpr int ProgressPanel = 1;

// The designs place every control for the 8-point font of a 96-dpi desktop.
// The window has a fixed size, so a larger desktop font would cut captions.
constexpr int DesignFontPixels = 11;
// space kept between a caption and the control beside it
constexpr int CaptionGap = 2;
// a push button's frame and the space its style keeps around the text
constexpr int ButtonTextMargin = 6;

// a typed bus address is applied this long after the last keystroke
constexpr int AddressTypedMs = 500;

constexpr int CardDigits = 16;
constexpr int AppIDDigits = 8;

// two upper-case digits per byte, in the given order
QString HexText(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex().toUpper());
}

void SetTextColor(QWidget* widget, TColor color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, VclColor(color));
    widget->setPalette(palette);
}

QFont FixedPitchFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"), QStringLiteral("Monospace")});
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

// The room a caption has: up to the next control on its right in the same
// row, or the edge of its area.
int CaptionRoom(const QWidget& caption)
{
    // the areas are laid out only when the window is shown
    int right = TMainWindow::ClientWidth - CaptionGap;
    const QRect row = caption.geometry();
    for (const QWidget* other : caption.parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QRect place = other->geometry();
        if (other != &caption && !other->isHidden() && place.left() > row.left() && place.top() < row.bottom()
            && place.bottom() > row.top())
            right = std::min(right, place.left() - CaptionGap);
    }
    return right - row.left();
}

// Label boxes of the designs are 13 pixels high and as wide as their Czech
// texts were. A caption keeps the window's font: a label or check box grows
// to its caption up to the next control, a button keeps its width, and a
// caption still too long is cut with an ellipsis, whole in its tool tip.
void FitToCaption(QObject* control)
{
    auto* button = qobject_cast<QAbstractButton*>(control); // a push button or a check box
    auto* label = qobject_cast<QLabel*>(control);
    if (!button && !label)
        return;
    auto& caption = *static_cast<QWidget*>(control);
    const QString text = button ? button->text() : label->text();
    const bool push = qobject_cast<QPushButton*>(control) != nullptr;
    const QFontMetrics metrics = caption.fontMetrics();
    const int textWidth = metrics.horizontalAdvance(QString(text).remove(u'&'));
    // a box's indicator, a button's frame
    const int frame = push ? ButtonTextMargin : caption.sizeHint().width() - textWidth;
    const int room = push ? caption.width() : CaptionRoom(caption);
    if (textWidth + frame <= room) {
        caption.setToolTip(QString());
    } else {
        // no mnemonic in a cut caption: its letter might be cut away
        const QString whole = QString(text).remove(u'&');
        SetCaption(control, metrics.elidedText(whole, Qt::ElideRight, room - frame));
        caption.setToolTip(whole);
    }
    if (!push)
        caption.resize(std::max(caption.width(), std::min(caption.sizeHint().width(), room)), caption.height());
}

void SetBevelColor(TColorBevel* bevel, TColor color)
{
    bevel->SetBriteColor(color);
    bevel->SetDarkColor(color);
}

void SetUpArrow(TLMDTechnicalLine* line, TLMDLineEndings start, TLMDLineEndings end, TLMDSignPlaces places, int size)
{
    line->SetLineStartSign(start);
    line->SetLineEndingsign(end);
    line->SetSignPlaces(places);
    line->SetSignSize(size);
    line->SetFillColor(clGreen);
}
}

TMainWindow::TMainWindow(const TAppFolders& folders, QWidget* parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
    , FFolders(folders)
    , FBeep(PlayDesktopSound)
{
    FormCreate();
}

TMainWindow::TMainWindow(const QString& appDir, QWidget* parent)
    : TMainWindow(PortableFolders(appDir), parent)
{
}

TMainWindow::~TMainWindow()
{
    FormDestroy();
}

// --- creation and destruction -------------------------------------------------

void TMainWindow::FormCreate()
{
    // first: a window that may not have the settings file is not built at all
    FSettingsLock = std::make_unique<TSettingsLock>(FFolders.settingsFile);
    Q_INIT_RESOURCE(MainWindow);
    ui->setupUi(this);
    SetUpControls();

    FCommThread = std::make_unique<TCommThread>();
    FSession = std::make_unique<TModuleSession>(*FCommThread, this);
    FEventLog = new TSessionEventLog(*FSession, FSession.get());
    ConnectSession();
    ConnectControls();

    FSettingsIni = std::make_unique<TIniFile>(FFolders.settingsFile);
    if (const QString refusal = FSettingsIni->Refusal(); !refusal.isEmpty()) {
        FSettingsSavable = false;
        AppErrors::Report(refusal + QStringLiteral("; the program runs on its defaults."));
    }
    FLanguageIni = std::make_unique<TIniFile>(FFolders.languageFile);
    LoadLanguage(*FLanguageIni);
    LoadSettings();
    BlankPreset();
    UpdateControls();
    ShowTransfer();
}

void TMainWindow::FormDestroy()
{
    try {
        if (FSettingsSavable)
            SaveSettings();
    } catch (const std::exception& e) {
        AppErrors::Report(QString::fromLocal8Bit(e.what()));
    }
    FSettingsIni.reset();
    FSettingsLock.reset();
    FLanguageIni.reset();
    // the controls the handlers touch go with this window: no event may reach
    // them, nor a focus loss of the address field as the window goes
    ui->SetAddressSE->disconnect(this);
    FSession.reset();
    FCommThread.reset();
}

void TMainWindow::SetUpControls()
{
    // owned by the window, so it outlives the menu bar
    ui->MainMenu1->setStyle(new TMenuBarStyle(this));
    // the separator of the designs, by its name
    ui->Program1->insertSeparator(ui->Konec1)->setObjectName(QStringLiteral("N1"));
    // the bench's own items go after the designs' ones
    ui->Program1->addSeparator();
    for (const char* name : {"FindModulesMI", "EventLogMI"})
        ui->Program1->addAction(QString())->setObjectName(QString::fromLatin1(name));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    QFont clientFont = centralWidget()->font();
    clientFont.setPixelSize(DesignFontPixels);
    centralWidget()->setFont(clientFont);
    SetClientHeight(ClientHeight);
    setWindowIcon(QIcon(QStringLiteral(":/images/app-icon.svg")));

    // white under any theme, so its headings cannot take the theme's text colour,
    // and its indicators' system colours fixed as a light theme has them: under
    // a dark theme an idle symbol would be filled dark on white and look active
    QPalette panel = ui->Panel1->palette();
    panel.setColor(QPalette::Window, VclColor(clWhite));
    panel.setColor(QPalette::WindowText, VclColor(clBlack));
    panel.setColor(QPalette::Button, QColor(0xF0, 0xF0, 0xF0));
    panel.setColor(QPalette::ButtonText, VclColor(clBlack));
    panel.setColor(QPalette::Light, VclColor(clWhite));
    panel.setColor(QPalette::Midlight, QColor(0xE3, 0xE3, 0xE3));
    panel.setColor(QPalette::Dark, QColor(0xA0, 0xA0, 0xA0));
    panel.setColor(QPalette::Shadow, QColor(0x69, 0x69, 0x69));
    ui->Panel1->setPalette(panel);

    ui->Tamper->SetShape(TShape::TShapeType::stCircle);
    ui->S1->SetShape(TShape::TShapeType::stCircle);
    ui->S1->SetPen(clBtnShadow);
    SetLamp(clBtnFace);
    SetUpArrow(ui->Input1, TLMDLineEndings::leNothing, TLMDLineEndings::leClosedArrowRight, TLMDSignPlaces::spEnd, 10);
    SetUpArrow(ui->Input2, TLMDLineEndings::leNothing, TLMDLineEndings::leClosedArrowRight, TLMDSignPlaces::spEnd, 10);
    SetUpArrow(ui->Relay1, TLMDLineEndings::leClosedArrowLeft, TLMDLineEndings::leClosedArrowRight,
               TLMDSignPlaces::spStart, 11);
    ui->Relay1->SetArrowed(true);
    for (TShape* shape : {ui->Tamper, ui->ForcedDoor, ui->DoorAjar})
        shape->SetBrush(clBtnShadow);

    QIcon lightning(QStringLiteral(":/images/lightning.svg"));
    lightning.addFile(QStringLiteral(":/images/lightning-disabled.svg"), QSize(), QIcon::Disabled);
    ui->SpeedButton1->setIcon(lightning);
    FStartIcon = ui->Start1->icon();
    FStopIcon = QIcon(QStringLiteral(":/images/stop.svg"));

    const QFont fixed = FixedPitchFont();
    for (QLabel* label : {ui->CardLB, ui->Code, ui->Label1, ui->Label2}) {
        label->setFont(fixed);
        SetTextColor(label, clNavy);
    }

    for (TColorBevel* separator : {ui->ColorBevel4, ui->ColorBevel1, ui->ColorBevel2})
        SetBevelColor(separator, clLightOrange);
    SetBevelColor(ui->ColorBevel3, clBtnFace);

    ui->FriendlyStatusBar1->SetPanelWidths({16, 75, 100});
    LimitTyping(ui->AddCardED, CardDigits);
    LimitTyping(ui->DelCardED, CardDigits);
    LimitTyping(ui->AppIDED, AppIDDigits);
    for (QWidget* control : std::initializer_list<QWidget*>{ui->SetAddressSE, ui->StrikeTimeSE, ui->DoorAjarSE,
                                                            ui->TamperSignalSE, ui->ForcedDoorSignalSE,
                                                            ui->DoorAjarSignalSE, ui->InputFunctionCB})
        WheelOnlyWhenFocused(control);

    auto makeTimer = [this](const char* name, int interval, bool enabled) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QString::fromLatin1(name));
        timer->setInterval(interval);
        if (enabled)
            timer->start();
        return timer;
    };
    Timer1 = makeTimer("Timer1", 500, false);
    Timer2 = makeTimer("Timer2", 50, false);
    FAddressTyped = makeTimer("AddressTypedTimer", AddressTypedMs, false);
    FAddressTyped->setSingleShot(true);
}

void TMainWindow::ConnectControls()
{
    connect(ui->Start1, &QAction::triggered, this, &TMainWindow::Start1Click);
    connect(ui->Nastaven1, &QAction::triggered, this, &TMainWindow::Nastaven1Click);
    connect(ui->Konec1, &QAction::triggered, this, &TMainWindow::Konec1Click);
    connect(ui->WriteMI, &QAction::triggered, this, &TMainWindow::WriteMIClick);
    connect(findChild<QAction*>(QStringLiteral("FindModulesMI")), &QAction::triggered, this,
            &TMainWindow::FindModulesMIClick);
    connect(findChild<QAction*>(QStringLiteral("EventLogMI")), &QAction::triggered, this,
            &TMainWindow::EventLogMIClick);
    connect(Timer1, &QTimer::timeout, this, &TMainWindow::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TMainWindow::Timer2Timer);
    connect(ui->SpeedButton1, &QToolButton::clicked, this, &TMainWindow::SpeedButton1Click);
    // The digits of a typed address are not addresses on their own: typing
    // 16 would visit 1 on the way. The value shown is applied once typing
    // stops, or at once on Return, focus loss and every command.
    connect(ui->SetAddressSE, &QSpinBox::valueChanged, FAddressTyped, qOverload<>(&QTimer::start));
    connect(FAddressTyped, &QTimer::timeout, this, &TMainWindow::SetAddressSEChange);
    connect(ui->SetAddressSE, &QSpinBox::editingFinished, this, &TMainWindow::SetAddressSEChange);
    connect(ui->SetAddressBtn, &QPushButton::clicked, this, &TMainWindow::SetAddressBtnClick);
    connect(ui->Button1, &QPushButton::clicked, this, &TMainWindow::Button1Click);
    connect(ui->SetAddCardBtn, &QPushButton::clicked, this, &TMainWindow::SetAddCardBtnClick);
    connect(ui->SetDelCardBtn, &QPushButton::clicked, this, &TMainWindow::SetDelCardBtnClick);
    connect(ui->PrintBtn, &QPushButton::clicked, this, &TMainWindow::PrintBtnClick);
    connect(ui->MasterReaderCB, &QCheckBox::toggled, this, &TMainWindow::UpdateControls);
    for (QLineEdit* edit : {ui->AddCardED, ui->DelCardED, ui->AppIDED})
        connect(edit, &QLineEdit::textChanged, this, &TMainWindow::UpdateControls);
    connect(ui->InputFunctionCB, &QComboBox::currentIndexChanged, this, &TMainWindow::UpdateControls);
}

void TMainWindow::ConnectSession()
{
    TModuleSession* session = FSession.get();
    connect(session, &TModuleSession::Opened, this, &TMainWindow::CommThreadOpen);
    connect(session, &TModuleSession::Closed, this, &TMainWindow::CommThreadClose);
    connect(session, &TModuleSession::ReplyArrived, this, &TMainWindow::CommThreadReply);
    connect(session, &TModuleSession::TimedOut, this, &TMainWindow::CommThreadTimeout);
    connect(session, &TModuleSession::BadReply, this, &TMainWindow::CommThreadChecksumError);
    connect(session, &TModuleSession::LinkFailed, this, &TMainWindow::CommThreadError);
    connect(session, &TModuleSession::StatusReceived, this, &TMainWindow::StatusReply);
    connect(session, &TModuleSession::IdentityChanged, this, &TMainWindow::ShowIdentity);
    connect(session, &TModuleSession::TransferChanged, this, &TMainWindow::ShowTransfer);
    connect(session, &TModuleSession::WriteFailed, this, &TMainWindow::ShowWriteFailure);
    connect(session, &TModuleSession::SlowTick, this, &TMainWindow::SlowTimerTimer);
    connect(session, &TModuleSession::SetByCardChanged, this,
            [this](bool waiting) { SetCardFrameColor(waiting ? clRed : clBtnFace); });
    connect(session, &TModuleSession::AddressTaken, this, [this](int, bool byCard) {
        if (byCard)
            FBeepPending = true;
    });
}

// --- language and settings ----------------------------------------------------

void TMainWindow::LoadLanguage(const TIniFile& ini)
{
    const QHash<QString, QString> texts = ReadLanguageTexts(ini, MainWindowLanguageKeys());
    ui->InputFunctionCB->clear();
    for (const TLanguageKey& key : MainWindowLanguageKeys()) {
        const QString control = QString::fromUtf8(key.control);
        if (control.isEmpty())
            continue;
        const QString text = texts.value(QString::fromUtf8(key.key));
        if (control.startsWith(ui->InputFunctionCB->objectName() + '#'))
            ui->InputFunctionCB->addItem(text);
        else if (QObject* target = findChild<QObject*>(control)) {
            SetCaption(target, text);
            FitToCaption(target);
        }
    }
    FTexts = KeptTexts(texts);
    FHints = IndicatorHints(texts);
    FProgramTexts = ProgramTexts(ini);
    ui->SpeedButton1->setToolTip(PlainToolTip(FHints.lightning));
    FHintsShown = std::uint8_t(0xFF); // no state of the symbols: the tips are made anew
    ShowIndicatorHints(std::nullopt);
    setWindowTitle(QString::fromLatin1(WindowTitle));
}

void TMainWindow::LoadSettings()
{
    const TSettingsDefaults defaults{FCommThread->GetComPort(), ui->SetAddressSE->value()};
    const TStoredSettings s = ReadSettings(*FSettingsIni, defaults);
    ApplyLinkSettings(s);
    ApplyReaderSettings(s);
    SetMaster(s.masterFeature);
    // once the height is final
    move(WindowPlacement(QPoint(s.left, s.top), size()));
    PortNames::SetConfiguredPaths(s.portPaths);
    if (!s.recordFile.isEmpty()) {
        FRecord = new TSessionRecord(*FSession, s.recordFile);
        connect(FRecord, &TSessionRecord::Failed, this, &AppErrors::Report);
    }
    // a line of several stations numbers its modules in one database; a
    // station that cannot use it must not number them on its own
    if (const QString url = ProductionDatabaseUrl(*FSettingsIni); !url.isEmpty()) {
        if (const std::optional<QString> problem = DatabaseUrlProblem(url))
            FDatabaseProblem = QStringLiteral("[Production] Database in %1: %2").arg(FSettingsIni->FileName(), *problem);
        else {
            FProductionRows = new TProductionRows(*FSession, url);
            connect(FProductionRows, &TProductionRows::Started, this, &TMainWindow::WriteStarted);
            connect(FProductionRows, &TProductionRows::Refused, this, [this](const QString& why) {
                UpdateControls();
                ShowDatabaseFailure(why);
            });
            connect(FProductionRows, &TProductionRows::Failed, this, &TMainWindow::ShowDatabaseFailure);
        }
    }
}

void TMainWindow::ApplyLinkSettings(const TStoredSettings& s)
{
    ConfigureLink(*FCommThread, s.Link());
    if (s.replyTimeoutMs) {
        TLinkTiming timing = FCommThread->Timing();
        timing.replyTimeout = std::chrono::milliseconds(*s.replyTimeoutMs);
        FSession->SetTiming(timing);
    }
    {
        const QSignalBlocker loading(ui->SetAddressSE);
        ui->SetAddressSE->setValue(s.hwAddress);
    }
    FServiceCard = s.serviceCard;
    FSession->SelectAddress(s.hwAddress);
}

void TMainWindow::ApplyReaderSettings(const TStoredSettings& s)
{
    ui->StrikeTimeSE->setValue(s.strikeTime);
    ui->BeepCB->setChecked(s.beep);
    ui->DoorAjarSE->setValue(s.doorAjarDelay);
    ui->TamperSignalSE->setValue(s.tamperSignal);
    ui->ForcedDoorSignalSE->setValue(s.forcedDoorSignal);
    ui->DoorAjarSignalSE->setValue(s.doorAjarSignal);
    ui->InputFunctionCB->setCurrentIndex(s.readerFunction);
    ui->MasterReaderCB->setChecked(s.master);
    ui->AppIDED->setText(s.lastAppID);
}

void TMainWindow::SetMaster(bool enabled)
{
    if (enabled)
        return;
    ui->MasterReaderCB->setEnabled(false);
    ui->SetAddCardBtn->setEnabled(false);
    ui->SetDelCardBtn->setEnabled(false);
    for (QWidget* control : std::initializer_list<QWidget*>{
             ui->MasterReaderCB, ui->ColorBevel2, ui->AddCardLB, ui->AddCardED, ui->DelCardLB, ui->DelCardED,
             ui->AppIDLB, ui->AppIDED, ui->SetAddCardBtn, ui->SetDelCardBtn, ui->SetAddressBtn, ui->PrintBtn})
        control->hide();
    // without Set, Set by card and its frame take the whole row after the address
    const int left = ui->SetAddressBtn->x();
    const QRect frame = ui->ColorBevel3->geometry();
    ui->ColorBevel3->setGeometry(left - 1, frame.y(), frame.right() - left + 2, frame.height());
    const QRect button = ui->Button1->geometry();
    ui->Button1->setGeometry(left, button.y(), button.right() - left + 1, button.height());
    SetClientHeight(ClientHeightWithoutMaster);
}

void TMainWindow::SetClientHeight(int height)
{
    centralWidget()->setFixedSize(ClientWidth, height);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
}

void TMainWindow::SaveSettings()
{
    TStoredSettings s;
    s.top = y();
    s.left = x();
    s.comPort = FCommThread->GetComPort();
    s.hwAddress = ui->SetAddressSE->value();
    s.dataBits = FCommThread->DataBits;
    s.ipAddress = FCommThread->GetIPAddress();
    s.ipPort = FCommThread->GetIPPort();
    s.lanMode = FCommThread->LANMode();
    s.serviceCard = FServiceCard;
    s.master = ui->MasterReaderCB->isChecked();
    s.strikeTime = ui->StrikeTimeSE->value();
    s.beep = ui->BeepCB->isChecked();
    s.doorAjarDelay = ui->DoorAjarSE->value();
    s.tamperSignal = ui->TamperSignalSE->value();
    s.forcedDoorSignal = ui->ForcedDoorSignalSE->value();
    s.doorAjarSignal = ui->DoorAjarSignalSE->value();
    s.readerFunction = ui->InputFunctionCB->currentIndex();
    WriteSettings(*FSettingsIni, s);
}

// --- Start, Stop and the orderly close ----------------------------------------

void TMainWindow::Start1Click()
{
    SetAddressSEChange();
    FLinkReason = {};
    FSession->ClearTransferText();
    // while the connection is being made the item is Stop already: it abandons the attempt
    if (FSession->IsActive() || FSession->IsOpening()) {
        FSession->Close();
        SetLamp(clBtnFace);
    } else {
        FSession->Open();
        if (FSession->IsOpening()) {
            ShowStartItem(false);
            UpdateControls();
        }
    }
}

// Start while the link is stopped, Stop while it runs or is being opened.
void TMainWindow::ShowStartItem(bool start)
{
    ui->Start1->setText(start ? FTexts.mainMenuStart : FTexts.mainMenuStop);
    ui->Start1->setIcon(start ? FStartIcon : FStopIcon);
}

// --- the settings dialog --------------------------------------------------------

void TMainWindow::SetSettingDialog(TSettingDlg* dialog)
{
    FSettingDlg = dialog;
}

void TMainWindow::Nastaven1Click()
{
    TCommThread& link = *FCommThread;
    // the link's setters refuse while it is open, and by then the card and
    // the port would already be changed
    if (!FSettingDlg || link.IsActive() || link.IsOpening())
        return;
    FSettingDlg->Fill({link.GetComPort(), link.DataBits, link.GetIPAddress(), link.GetIPPort(), link.LANMode(),
                       NormalizeCardNumber(FServiceCard)});
    if (FSettingDlg->exec() != QDialog::Accepted)
        return;
    const TSettingValues chosen = FSettingDlg->Values();
    FServiceCard = NormalizeCardNumber(chosen.serviceCard);
    // LAN mode goes last and forces the 8-bit form whatever the list shows
    ConfigureLink(link, {chosen.comPort, chosen.dataBits, chosen.ipAddress, chosen.ipPort, chosen.lanMode});
    ShowTransfer();
}

void TMainWindow::Konec1Click()
{
    close();
}

void TMainWindow::closeEvent(QCloseEvent* event)
{
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

bool TMainWindow::FormCloseQuery()
{
    if (!FCommThread->IsActive())
        return true;
    Timer2->start();
    FCommThread->Close();
    return false;
}

void TMainWindow::Timer2Timer()
{
    Timer2->stop();
    close();
}

// --- the lamp, the presets and the enable rule --------------------------------

void TMainWindow::Timer1Timer()
{
    Timer1->stop();
    SetLamp(clBtnFace);
}

// the lamp's pen is the button shadow in every state
void TMainWindow::SetLamp(std::uint32_t brush)
{
    ui->S1->SetBrush(brush);
}

void TMainWindow::SetIndicators(std::uint32_t color)
{
    for (TShape* shape : {ui->ForcedDoor, ui->DoorAjar, ui->Tamper})
        shape->SetBrush(color);
    for (TLMDTechnicalLine* line : {ui->Relay1, ui->Input1, ui->Input2})
        line->SetFillColor(color);
    ShowIndicatorHints(std::nullopt);
}

// Each symbol says what it shows and in which state; no flags, no state.
void TMainWindow::ShowIndicatorHints(std::optional<std::uint8_t> flags)
{
    using namespace ModuleReplies;
    // a status reply comes four times a second: the tips change with the symbols' flags only
    if (flags)
        *flags &= Flag::Relay | Flag::Input1 | Flag::Input2 | Flag::Tamper | Flag::DoorAjar | Flag::ForcedDoor;
    if (FHintsShown == flags)
        return;
    FHintsShown = flags;
    const auto hint = [&](QWidget* symbol, const QString& name, std::uint8_t mask) {
        symbol->setToolTip(FHints.Hint(name, flags ? std::optional<bool>((*flags & mask) != 0) : std::nullopt));
    };
    hint(ui->Tamper, FHints.tamper, Flag::Tamper);
    hint(ui->ForcedDoor, FHints.forcedDoor, Flag::ForcedDoor);
    hint(ui->DoorAjar, FHints.doorAjar, Flag::DoorAjar);
    hint(ui->Input1, FHints.input1, Flag::Input1);
    hint(ui->Input2, FHints.input2, Flag::Input2);
    hint(ui->Relay1, FHints.relay, Flag::Relay);
}

void TMainWindow::BlankPreset()
{
    SetIndicators(clWhite);
    // the button face of the designs: unreadable on the white panel under a
    // light theme, and as dark as live text under a dark one
    SetCardLabelsColor(clGreyedOnWhite);
}

void TMainWindow::GreyPreset()
{
    SetIndicators(clBtnFace);
}

void TMainWindow::SetCardLabelsColor(std::uint32_t color)
{
    SetTextColor(ui->CardLB, color);
    SetTextColor(ui->Code, color);
}

void TMainWindow::ShowTransfer()
{
    using TStatus = TTransferState::TStatus;
    const TTransferState& transfer = FSession->Transfer();
    QString text;
    switch (transfer.Status()) {
    case TStatus::None: break;
    case TStatus::Connected: text = FTexts.connected; break;
    case TStatus::TimedOut: text = FTexts.timedOut; break;
    case TStatus::Transferring: text = FTexts.dataTransfer; break;
    case TStatus::Succeeded: text = FTexts.dataTransferOK; break;
    case TStatus::Failed: text = FTexts.dataTransferFailed; break;
    // the session's own words once a good reply has cleared the link's
    case TStatus::LinkFailed: text = FLinkReason.shortText.isEmpty() ? transfer.Reason() : FLinkReason.shortText; break;
    }
    // the line's database has the last word until the next Write, but not over a lost link
    const bool database = !FDatabaseText.isEmpty() && transfer.Status() != TStatus::LinkFailed;
    ui->FriendlyStatusBar1->SetPanelText(StatusTextPanel, database ? FDatabaseText : text);
    // a failed write's tip names the setting (ShowWriteFailure)
    if (database)
        ui->FriendlyStatusBar1->setToolTip(FDatabaseText);
    else if (transfer.Status() == TStatus::LinkFailed)
        ui->FriendlyStatusBar1->setToolTip(FLinkReason.sentence.isEmpty() ? transfer.Reason() : FLinkReason.sentence);
    else if (transfer.Status() != TStatus::Failed)
        ui->FriendlyStatusBar1->setToolTip(LinkText());
    ShowLampHint();
    ui->ProgressBar1->setMaximum(transfer.Maximum());
    ui->ProgressBar1->setValue(transfer.Position());
}

void TMainWindow::SetCardFrameColor(std::uint32_t color)
{
    SetBevelColor(ui->ColorBevel3, color);
}

void TMainWindow::UpdateControls()
{
    const bool active = FCommThread->IsActive();
    ui->SetAddressBtn->setEnabled(active);
    ui->Button1->setEnabled(ui->SetAddressBtn->isEnabled());
    // the transport cannot change under a connection being made either
    ui->Nastaven1->setEnabled(!active && !FCommThread->IsOpening());
    // one Write at a time while the line's database is asked for its row
    ui->WriteMI->setEnabled(active && !(FProductionRows && FProductionRows->TakingRow()));
    findChild<QAction*>(QStringLiteral("FindModulesMI"))->setEnabled(active);
    ui->SpeedButton1->setEnabled(active);
    if (MasterWrite()) {
        const QString add = ui->AddCardED->text();
        const QString del = ui->DelCardED->text();
        const int function = ui->InputFunctionCB->currentIndex();
        ui->WriteMI->setEnabled(ui->WriteMI->isEnabled() && IsValidCardNumber(add) && IsValidCardNumber(del)
                                && add != del && (LineNumbers() || IsValidAppID(ui->AppIDED->text()))
                                && (function == 0 || function == 1));
    }
    ui->AddCardED->setEnabled(ui->MasterReaderCB->isChecked());
    const bool master = ui->AddCardED->isEnabled();
    for (QWidget* control : std::initializer_list<QWidget*>{ui->DelCardED, ui->AppIDED, ui->SetAddCardBtn,
                                                            ui->SetDelCardBtn, ui->AddCardLB, ui->DelCardLB,
                                                            ui->AppIDLB})
        control->setEnabled(master);
    // a certificate names a module that is on the bus, once per configuration
    const QString serial = CertificateSerialNumber();
    ui->PrintBtn->setEnabled(master && !serial.isEmpty() && serial != FCertifiedSerial);
}

void TMainWindow::SetAddCardBtnClick()
{
    ui->AddCardED->setText(FSession->LastCard());
    UpdateControls();
}

void TMainWindow::SetDelCardBtnClick()
{
    ui->DelCardED->setText(FSession->LastCard());
    UpdateControls();
}

// --- configuration write ----------------------------------------------------

void TMainWindow::WriteMIClick()
{
    FDatabaseText.clear();
    SetAddressSEChange();
    std::optional<TMasterConfiguration> master;
    if (MasterWrite())
        master = TMasterConfiguration{AppIDBytes(ui->AppIDED->text()), ui->AddCardED->text(), ui->DelCardED->text()};
    // no module is written without its record line
    QString why;
    if (FRecord && FSession->IsActive() && !FRecord->Ready(why)) {
        AppErrors::Report(why);
        return;
    }
    const TReaderConfiguration reader = ReaderConfiguration();
    // with a line's database: the row, and the line's next serial number, before the first frame
    if (LineNumbers() && FSession->IsActive()) {
        if (!FDatabaseProblem.isEmpty()) {
            ShowDatabaseFailure(FDatabaseProblem);
            return;
        }
        FProductionRows->Write(reader, master);
        FDatabaseText = FProgramTexts.waitingForDatabase;
        ShowTransfer();
        UpdateControls();
        return;
    }
    // nothing went out when the link is not open, and no serial number is used
    if (FSession->Write(reader, master))
        WriteStarted(master);
}

void TMainWindow::WriteStarted(const std::optional<TMasterConfiguration>& master)
{
    FDatabaseText.clear();
    ShowTransfer();
    FCertifiedSerial.clear();
    UpdateControls();
    if (!master)
        return;
    // the next module gets the next serial number, whatever this one answers
    const QString nextAppID = AppIDText(IncrementAppID(master->appID));
    ui->AppIDED->setText(nextAppID);
    // the database hands out the numbers; the field only shows what follows this one
    if (LineNumbers())
        return;
    // last: a settings file that cannot be written raises, and the write is under way by now
    SaveLastAppID(*FSettingsIni, *FSettingsLock, nextAppID);
}

// The database refused a Write (nothing was sent) or lost its row: said
// where the technician looks, until the next Write, and in a box, as the
// station may no longer number its modules.
void TMainWindow::ShowDatabaseFailure(const QString& reason)
{
    FDatabaseText = reason;
    ShowTransfer();
    AppErrors::Report(reason);
}

// The status text stays the language file's; which setting failed and why
// is one look away.
void TMainWindow::ShowWriteFailure(const TWriteFailure& f)
{
    ui->FriendlyStatusBar1->setToolTip(
        QStringLiteral("%1 (request %2 of %3): %4").arg(f.setting).arg(f.request).arg(f.of).arg(f.reason));
}

bool TMainWindow::LineNumbers() const
{
    return FProductionRows || !FDatabaseProblem.isEmpty();
}

bool TMainWindow::MasterWrite() const
{
    return ui->MasterReaderCB->isVisibleTo(this) && ui->MasterReaderCB->isChecked();
}

TReaderConfiguration TMainWindow::ReaderConfiguration() const
{
    auto byte = [](const QSpinBox* edit) { return static_cast<std::uint8_t>(edit->value()); };
    TReaderConfiguration c;
    c.strikeTime = byte(ui->StrikeTimeSE);
    c.doorAjarDelay = byte(ui->DoorAjarSE);
    c.readerFunction = static_cast<std::uint8_t>(std::max(0, ui->InputFunctionCB->currentIndex()));
    c.tamperSignal = byte(ui->TamperSignalSE);
    c.forcedDoorSignal = byte(ui->ForcedDoorSignalSE);
    c.doorAjarSignal = byte(ui->DoorAjarSignalSE);
    c.beep = ui->BeepCB->isChecked();
    return c;
}

// --- certificate ----------------------------------------------------------------

void TMainWindow::PrintBtnClick()
{
    if (!FBrowserWindow)
        return;
    const QString serial = CertificateSerialNumber();
    if (serial.isEmpty())
        return;
    FBrowserWindow->ShowCertificate(CertificateProduct, serial, QDateTime::currentDateTime());
    // a certificate per configuration: the next write enables the button again
    FCertifiedSerial = serial;
    UpdateControls();
}

// --- the bench's windows ------------------------------------------------------------

void TMainWindow::FindModulesMIClick()
{
    if (!FFindModulesDlg) {
        FFindModulesDlg = new TFindModulesDlg(*FSession, *FLanguageIni, this);
        connect(FFindModulesDlg, &TFindModulesDlg::AddressChosen, this, [this](int address) {
            ui->SetAddressSE->setValue(address);
            SetAddressSEChange();
        });
    }
    FFindModulesDlg->open();
}

void TMainWindow::EventLogMIClick()
{
    if (!FEventLogWindow)
        FEventLogWindow = new TEventLogWindow(*FEventLog, *FLanguageIni, this);
    FEventLogWindow->show();
    FEventLogWindow->raise();
    FEventLogWindow->activateWindow();
}

QString TMainWindow::CertificateSerialNumber() const
{
    return FSession->Identity().serialNumber.value_or(QString());
}

// --- what the session says -------------------------------------------------------

void TMainWindow::CommThreadOpen()
{
    ShowStartItem(false);
    UpdateControls();
}

void TMainWindow::CommThreadClose(const QString& reason)
{
    FDatabaseText.clear();
    // the lamp and the status text say why
    SetLinkReason(reason);
    // stopped, also when the device server closed the link: no late time-out turns it red
    Timer1->stop();
    SetLamp(clBtnFace);
    BlankPreset();
    ShowStartItem(true);
    UpdateControls();
}

// The reason the link gave, in the language's words; empty: none.
void TMainWindow::SetLinkReason(const QString& reason)
{
    FLinkReason = reason.isEmpty() ? TReasonWords{} : ReasonWords(FCommThread->LastFailure(), FProgramTexts);
    ShowLampHint();
}

// The lamp says why the link failed, else which link it is.
void TMainWindow::ShowLampHint()
{
    ui->S1->setToolTip(FLinkReason.sentence.isEmpty() ? LinkText() : FLinkReason.sentence);
}

QString TMainWindow::LinkText() const
{
    const TCommThread& link = *FCommThread;
    if (link.LANMode())
        return TcpLinkText(FProgramTexts, link.GetIPAddress(), link.GetIPPort());
    const int com = link.GetComPort();
    return SerialLinkText(FProgramTexts, com, PortNames::DevicePath(QStringLiteral("COM%1").arg(com)),
                          link.DataBits != 8);
}

void TMainWindow::CommThreadTimeout()
{
    Timer1->stop();
    SetLamp(clRed);
    GreyPreset();
}

void TMainWindow::CommThreadChecksumError()
{
    Timer1->stop();
    SetLamp(clYellow);
    GreyPreset();
}

void TMainWindow::CommThreadError(const QString& reason)
{
    SetLinkReason(reason);
    Timer1->stop();
    SetLamp(clBtnShadow);
    GreyPreset();
    ui->FriendlyStatusBar1->SetPanelText(ProgressPanel, QString());
    // a connection that could not be made leaves the link stopped
    if (!FSession->IsActive() && !FSession->IsOpening()) {
        ShowStartItem(true);
        UpdateControls();
    }
}

void TMainWindow::CommThreadReply()
{
    Timer1->stop();
    SetLamp(clLime);
    if (!FLinkReason.sentence.isEmpty())
        SetLinkReason(QString());
    Timer1->start();
}

void TMainWindow::ShowIdentity(const TModuleIdentity& identity)
{
    ui->Label1->setText(identity.firmware ? QStringLiteral("fw: ") + *identity.firmware
                                          : QString::fromLatin1(FirmwareNotKnown));
    if (identity.serialNumber)
        ui->Label2->setText(QStringLiteral("sn: ") + *identity.serialNumber);
    else if (identity.serialBytesSeen > 0)
        ui->Label2->setText(QStringLiteral("sn: ") + QString(identity.serialBytesSeen, u'.'));
    else
        ui->Label2->setText(QString::fromLatin1(SerialNotKnown));
    UpdateControls();
}

void TMainWindow::StatusReply(const ModuleReplies::TModuleStatus& status)
{
    SetCardLabelsColor(clNavy);
    ShowStatusFlags(status.flags);
    if (status.Has(ModuleReplies::Flag::CardRead))
        ShowCard(status);
}

void TMainWindow::ShowStatusFlags(std::uint8_t flags)
{
    using namespace ModuleReplies;
    auto line = [flags](std::uint8_t mask) { return (flags & mask) ? clRed : clLime; };
    auto alarm = [flags](std::uint8_t mask, TColor set) { return (flags & mask) ? set : clBtnFace; };
    ui->Relay1->SetFillColor(line(Flag::Relay));
    ui->Input2->SetFillColor(line(Flag::Input2));
    ui->Input1->SetFillColor(line(Flag::Input1));
    ui->Tamper->SetBrush(alarm(Flag::Tamper, clYellow));
    ui->DoorAjar->SetBrush(alarm(Flag::DoorAjar, clYellow));
    ui->ForcedDoor->SetBrush(alarm(Flag::ForcedDoor, clRed));
    ShowIndicatorHints(flags);
}

void TMainWindow::ShowCard(const ModuleReplies::TModuleStatus& status)
{
    // the flags byte comes after the card, so the card is always complete here
    ui->CardLB->setText(HexText(status.card));
    if (status.code)
        ui->Code->setText(HexText(QByteArray(1, char(*status.code))));
}

// --- the beep and the lightning command ---------------------------------------------

void TMainWindow::SlowTimerTimer()
{
    if (FBeepPending) {
        FBeepPending = false;
        FBeep(InformationSound);
    }
}

void TMainWindow::SpeedButton1Click()
{
    SetAddressSEChange();
    FSession->Lightning();
}

// --- bus address --------------------------------------------------------------

// The address shown, applied once: the link polls it from now on and the
// module there is asked who it is.
void TMainWindow::SetAddressSEChange()
{
    FAddressTyped->stop();
    if (ui->SetAddressSE->value() != FSession->Address())
        FSession->SelectAddress(ui->SetAddressSE->value());
}

void TMainWindow::SetAddressBtnClick()
{
    SetAddressSEChange();
    FSession->AssignAddress(FSession->Address());
}

void TMainWindow::Button1Click()
{
    SetAddressSEChange();
    if (FSession->SettingByCard())
        FSession->StopSetByCard();
    else
        FSession->StartSetByCard(FServiceCard);
}
