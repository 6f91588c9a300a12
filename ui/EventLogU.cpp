#include "ui/EventLogU.h"

#include "session/SessionEventsU.h"
#include "ui/LanguageU.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

TEventLogWindow::TEventLogWindow(TSessionEventLog& log, const TIniFile& languageIni, QWidget* parent)
    : QWidget(parent, Qt::Window), FLog(log)
{
    setObjectName(QStringLiteral("EventLogWindow"));
    FView = new QTableView(this);
    FView->setObjectName(QStringLiteral("EventsTV"));
    FView->setModel(&log);
    FView->setSelectionBehavior(QAbstractItemView::SelectRows);
    FView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FView->verticalHeader()->hide();
    FView->verticalHeader()->setDefaultSectionSize(FView->fontMetrics().height() + 4);
    // the reason, the one long field, takes what is left
    FView->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    FView->horizontalHeader()->setStretchLastSection(true);
    auto* exportButton = new QPushButton(this);
    exportButton->setObjectName(QStringLiteral("ExportBtn"));
    auto* close = new QPushButton(this);
    close->setObjectName(QStringLiteral("CloseBtn"));
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(exportButton, QDialogButtonBox::ActionRole);
    buttons->addButton(close, QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FView);
    layout->addWidget(buttons);

    FTexts = ApplyLanguageTexts(*this, languageIni, EventLogLanguageKeys());
    QStringList headings;
    for (const QString& field : SessionEvents::FieldNames())
        headings << FTexts.value(QStringLiteral("Column-") + field);
    log.SetHeadings(headings);
    resize(760, 360);

    // at the bottom before the rows came: the new ones are shown; scrolled
    // back: the rows looked at stay put
    QScrollBar* bar = FView->verticalScrollBar();
    connect(&log, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this, bar] { FFollowing = bar->value() == bar->maximum(); });
    connect(&log, &QAbstractItemModel::rowsInserted, this, [this] {
        if (FFollowing)
            FView->scrollToBottom();
    });
    connect(exportButton, &QPushButton::clicked, this, &TEventLogWindow::ExportClick);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
}

void TEventLogWindow::ExportClick()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested = QDir(folder).filePath(
        QStringLiteral("events-%1.csv").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString path = QFileDialog::getSaveFileName(this, FTexts.value("Export"), suggested,
                                                      QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    QString why;
    if (!ExportTo(path, why))
        QMessageBox::warning(this, windowTitle(), FTexts.value("ExportFailed").arg(path) + '\n' + why);
}

bool TEventLogWindow::ExportTo(const QString& path, QString& why)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && FLog.WriteCsv(file) && file.commit())
        return true;
    why = file.errorString();
    return false;
}
