#include "ui/FindModulesU.h"

#include "session/ModuleSessionU.h"
#include "ui/LanguageU.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int LowestAddress = 1;
constexpr int HighestAddress = 16;
}

TFindModulesDlg::TFindModulesDlg(TModuleSession& session, const TIniFile& languageIni, QWidget* parent)
    : QDialog(parent), FSession(session)
{
    setObjectName(QStringLiteral("FindModulesDlg"));
    auto* fromLabel = new QLabel(this);
    fromLabel->setObjectName(QStringLiteral("FromLB"));
    auto* toLabel = new QLabel(this);
    toLabel->setObjectName(QStringLiteral("ToLB"));
    for (QLabel* label : {fromLabel, toLabel})
        label->setTextFormat(Qt::PlainText);
    auto spin = [this](const char* name, int value) {
        auto* box = new QSpinBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(LowestAddress, HighestAddress);
        box->setValue(value);
        return box;
    };
    FFrom = spin("FromSE", LowestAddress);
    FTo = spin("ToSE", HighestAddress);
    auto button = [this](const char* name) {
        auto* b = new QPushButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    FFind = button("FindBtn");
    FStop = button("StopBtn");
    FChoose = button("ChooseBtn");
    FChoose->setDefault(true);
    QPushButton* close = button("CloseBtn");

    FProgress = new QProgressBar(this);
    FProgress->setObjectName(QStringLiteral("FindPB"));
    FProgress->setTextVisible(false);
    FList = new QTreeWidget(this);
    FList->setObjectName(QStringLiteral("ModulesTV"));
    FList->setRootIsDecorated(false);
    FList->setUniformRowHeights(true);
    FList->setSortingEnabled(false);
    FStatus = new QLabel(this);
    FStatus->setObjectName(QStringLiteral("FindStatusLB"));
    FStatus->setTextFormat(Qt::PlainText);
    FStatus->setWordWrap(true);

    auto* range = new QHBoxLayout;
    range->addWidget(fromLabel);
    range->addWidget(FFrom);
    range->addWidget(toLabel);
    range->addWidget(FTo);
    range->addStretch();
    range->addWidget(FFind);
    range->addWidget(FStop);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(FChoose, QDialogButtonBox::AcceptRole);
    buttons->addButton(close, QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(range);
    layout->addWidget(FProgress);
    layout->addWidget(FList);
    layout->addWidget(FStatus);
    layout->addWidget(buttons);

    FTexts = ApplyLanguageTexts(*this, languageIni, FindModulesLanguageKeys());
    FList->setHeaderLabels({FTexts.value("Address"), FTexts.value("Firmware"), FTexts.value("SerialNumber")});
    FList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    resize(360, 320);

    connect(FFind, &QPushButton::clicked, this, &TFindModulesDlg::Find);
    connect(FStop, &QPushButton::clicked, this, &TFindModulesDlg::Stop);
    connect(buttons, &QDialogButtonBox::accepted, this, &TFindModulesDlg::Choose);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(FList, &QTreeWidget::itemDoubleClicked, this, &TFindModulesDlg::Choose);
    connect(FList, &QTreeWidget::currentItemChanged, this, &TFindModulesDlg::UpdateButtons);
    connect(FFrom, &QSpinBox::valueChanged, FTo, [this](int from) { FTo->setMinimum(from); });
    connect(&session, &TModuleSession::ScanProgress, this, [this](int asked, int count) {
        FProgress->setMaximum(count);
        FProgress->setValue(asked);
    });
    connect(&session, &TModuleSession::ModuleFound, this, &TFindModulesDlg::Found);
    connect(&session, &TModuleSession::ScanFinished, this, &TFindModulesDlg::Finished);
    connect(&session, &TModuleSession::Opened, this, &TFindModulesDlg::UpdateButtons);
    connect(&session, &TModuleSession::Closed, this, &TFindModulesDlg::UpdateButtons);
    UpdateButtons();
}

void TFindModulesDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!FSession.Scanning())
        Find();
}

void TFindModulesDlg::done(int result)
{
    // the poll of the selected address goes on once the dialog is gone
    Stop();
    QDialog::done(result);
}

void TFindModulesDlg::Find()
{
    if (FSession.Scanning())
        return;
    FList->clear();
    FStatus->clear();
    FProgress->setValue(0);
    FSession.StartScan(FFrom->value(), FTo->value());
    UpdateButtons();
}

void TFindModulesDlg::Stop()
{
    if (FSession.Scanning())
        FSession.StopScan();
}

void TFindModulesDlg::Choose()
{
    const QTreeWidgetItem* item = FList->currentItem();
    if (!item)
        return;
    emit AddressChosen(item->data(0, Qt::UserRole).toInt());
    accept();
}

void TFindModulesDlg::Found(const TScanEntry& entry)
{
    const QString none = QStringLiteral("NA");
    auto* item = new QTreeWidgetItem({QString::number(entry.address), entry.firmware.value_or(none),
                                      entry.serialNumber.value_or(none)});
    item->setData(0, Qt::UserRole, entry.address);
    FList->addTopLevelItem(item);
    if (!FList->currentItem())
        FList->setCurrentItem(item);
}

void TFindModulesDlg::Finished(const TScanOutcome& outcome)
{
    // an address whose reply failed its check holds a module the list cannot show
    QStringList lines;
    for (const auto& [address, reason] : outcome.faults)
        lines << QStringLiteral("%1: %2").arg(address).arg(reason);
    if (!outcome.lostReason.isEmpty())
        lines << FTexts.value("LinkLost") + ' ' + outcome.lostReason;
    else if (FList->topLevelItemCount() == 0 && lines.isEmpty() && !outcome.stopped)
        lines << FTexts.value("NoneFound");
    FStatus->setText(lines.join('\n'));
    UpdateButtons();
}

void TFindModulesDlg::UpdateButtons()
{
    const bool scanning = FSession.Scanning();
    FFind->setEnabled(!scanning && FSession.IsActive());
    FStop->setEnabled(scanning);
    FFrom->setEnabled(!scanning);
    FTo->setEnabled(!scanning);
    FChoose->setEnabled(FList->currentItem() != nullptr);
}
