#include "ui/SettingDlgU.h"

#include "ui_SettingDlg.h"

#include "ports/PortNames.h"
#include "module/CardNumbersU.h"
#include "files/IniFile.h"
#include "ui/LanguageU.h"
#include "ui/TypingLimitU.h"
#include "widgets/Colors.h"

#include <QFile>
#include <QRegularExpression>


#include <algorithm>
#include <optional>

namespace {
constexpr int ComPortCount = 8;
constexpr int FramedDataBits = 8;
constexpr int NineBitDataBits = 9;
constexpr int MaxIPPort = 65535;
// light red: a field whose text blocks OK
constexpr TColor InvalidFieldColor = 0xC0C0FF;

// Digits only: the conversion that applies the port must not meet a text it refuses.
std::optional<int> IPPortOf(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const QString trimmed = text.trimmed();
    if (!digits.match(trimmed).hasMatch())
        return std::nullopt;
    const int port = trimmed.toInt();
    if (port < 1 || port > MaxIPPort)
        return std::nullopt;
    return port;
}

// The device the COM number opens and whether this user can open it now.
QString PortDeviceHint(int comNumber, const TProgramTexts& texts)
{
    using TKind = PortNames::TDeviceAccess::TKind;
    const QString path = PortNames::DevicePath(QStringLiteral("COM%1").arg(comNumber));
    const PortNames::TDeviceAccess access = PortNames::DeviceAccess(path);
    switch (access.kind) {
    case TKind::Usable: break;
    case TKind::NotPresent: return texts.deviceNotPresent.arg(path);
    case TKind::NoPermission:
        return access.group.isEmpty() ? texts.deviceNoPermission.arg(path)
                                      : texts.deviceNoPermissionGroup.arg(path, access.group);
    case TKind::Other: return texts.deviceError.arg(path, access.detail);
    }
    return path;
}

// Why the host cannot be used; empty when it can. A name with blanks would
// only fail later, in the lookup.
QString HostProblem(const QString& host, const TProgramTexts& texts)
{
    if (host.trimmed().isEmpty())
        return texts.hostEmpty;
    if (std::any_of(host.begin(), host.end(), [](QChar c) { return c.isSpace(); }))
        return texts.hostBlanks;
    return {};
}

void ShowFieldState(QLineEdit* field, const QString& problem)
{
    QPalette palette; // empty: the field's own colours
    if (!problem.isEmpty())
        palette.setColor(QPalette::Base, VclColor(InvalidFieldColor));
    field->setPalette(palette);
    field->setToolTip(problem);
}
}

TSettingDlg::TSettingDlg(const TIniFile& languageIni, QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::SettingDlg>())
{
    FormCreate(languageIni);
}

TSettingDlg::~TSettingDlg() = default;

void TSettingDlg::FormCreate(const TIniFile& languageIni)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth, ClientHeight);
    connect(ui->OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->SerialRadioButton, &QRadioButton::toggled, this, &TSettingDlg::UpdateDialogControls);
    connect(ui->ComboBox1, &QComboBox::currentIndexChanged, this, &TSettingDlg::UpdateDialogControls);
    connect(ui->ComboBox2, &QComboBox::currentIndexChanged, this, &TSettingDlg::UpdateDialogControls);
    for (QLineEdit* edit : {ui->Edit1, ui->Edit2, ui->Edit3})
        connect(edit, &QLineEdit::textChanged, this, &TSettingDlg::UpdateDialogControls);
    // the host is stored in the settings file, which is windows-1250
    LimitToCodePage(ui->Edit2);
    LoadDialogLanguage(languageIni);
    UpdateDialogControls();
}

void TSettingDlg::LoadDialogLanguage(const TIniFile& ini)
{
    FTexts = ProgramTexts(ini);
    ApplyLanguageTexts(*this, ini, SettingDialogLanguageKeys());
}

void TSettingDlg::Fill(const TSettingValues& values)
{
    ui->ComboBox1->setCurrentIndex(std::clamp(values.comPort, 1, ComPortCount) - 1);
    ui->Edit1->setText(values.serviceCard);
    ui->Edit2->setText(values.ipAddress);
    ui->Edit3->setText(QString::number(values.ipPort));
    ui->NetworkRadioButton->setChecked(values.lanMode);
    ui->SerialRadioButton->setChecked(!values.lanMode);
    ui->ComboBox2->setCurrentIndex(values.dataBits == FramedDataBits ? 0 : 1);
    // the same values as last time raise no change signal, and the device
    // may have come or gone since
    UpdateDialogControls();
}

TSettingValues TSettingDlg::Values() const
{
    TSettingValues values;
    values.serviceCard = ui->Edit1->text();
    values.comPort = ui->ComboBox1->currentIndex() + 1;
    values.dataBits = ui->ComboBox2->currentIndex() == 0 ? FramedDataBits : NineBitDataBits;
    values.ipAddress = ui->Edit2->text();
    values.ipPort = IPPortOf(ui->Edit3->text()).value_or(0);
    values.lanMode = ui->NetworkRadioButton->isChecked();
    return values;
}

void TSettingDlg::UpdateDialogControls()
{
    const bool serial = ui->SerialRadioButton->isChecked();
    for (QWidget* control : std::initializer_list<QWidget*>{ui->IPAddressLB, ui->IPPortLB, ui->Edit2, ui->Edit3})
        control->setEnabled(!serial);
    for (QWidget* control :
         std::initializer_list<QWidget*>{ui->ComPortLB, ui->DataBitsLB, ui->ComboBox1, ui->ComboBox2, ui->PortDeviceLB})
        control->setEnabled(serial);
    ShowPortDevice();
    // The port is checked whatever the transport: OK applies it in both.
    const bool portValid = IPPortOf(ui->Edit3->text()).has_value();
    ShowFieldState(ui->Edit3, portValid ? QString() : FTexts.ipPortHint);
    // a serial user cannot edit the host, so only the network needs one
    const QString hostProblem = serial ? QString() : HostProblem(ui->Edit2->text(), FTexts);
    ShowFieldState(ui->Edit2, hostProblem);
    ui->OKBtn->setEnabled(IsValidCardNumber(NormalizeCardNumber(ui->Edit1->text())) && portValid
                          && hostProblem.isEmpty());
}

void TSettingDlg::ShowPortDevice()
{
    const QString hint = PortDeviceHint(ui->ComboBox1->currentIndex() + 1, FTexts);
    // a /dev/serial/by-id/... path is longer than the dialog is wide
    ui->PortDeviceLB->setText(
        ui->PortDeviceLB->fontMetrics().elidedText(hint, Qt::ElideMiddle, ui->PortDeviceLB->width()));
    ui->PortDeviceLB->setToolTip(hint);
}

void TSettingDlg::showEvent(QShowEvent* event)
{
    // centred on the main window at every opening, also after the window moved
    if (QWidget* owner = parentWidget()) {
        QRect frame = frameGeometry();
        frame.moveCenter(owner->window()->frameGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}
