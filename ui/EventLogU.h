#pragma once
// TEventLogWindow: the session's event log as a table that follows the newest
// event unless the user has scrolled back, and its export as CSV.

#include <QHash>
#include <QString>
#include <QWidget>

class QTableView;
class TIniFile;
class TSessionEventLog;

class TEventLogWindow : public QWidget {
    Q_OBJECT
public:
    TEventLogWindow(TSessionEventLog& log, const TIniFile& languageIni, QWidget* parent = nullptr);

    QTableView& View() { return *FView; }
    // The save dialog, then ExportTo.
    void ExportClick();
    // Writes the events kept as CSV, replacing the file whole; false with the reason.
    bool ExportTo(const QString& path, QString& why);

private:
    TSessionEventLog& FLog;
    QTableView* FView;
    QHash<QString, QString> FTexts;
    bool FFollowing = true; // the newest row was in view before rows came
};
