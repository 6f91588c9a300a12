#pragma once
// TFindModulesDlg: asks a range of bus addresses through the module session's
// scan and lists each module that answers with its firmware and serial number
// as the answers come; the one chosen becomes the main window's address.

#include <QDialog>
#include <QHash>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class TIniFile;
class TModuleSession;
struct TScanEntry;
struct TScanOutcome;

class TFindModulesDlg : public QDialog {
    Q_OBJECT
public:
    TFindModulesDlg(TModuleSession& session, const TIniFile& languageIni, QWidget* parent = nullptr);

    // Asks the range the dialog shows; the list starts empty.
    void Find();
    void Stop();
    // Chooses the module selected in the list.
    void Choose();

signals:
    void AddressChosen(int address);

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void Found(const TScanEntry& entry);
    void Finished(const TScanOutcome& outcome);
    void UpdateButtons();

    TModuleSession& FSession;
    QHash<QString, QString> FTexts;
    QSpinBox* FFrom;
    QSpinBox* FTo;
    QPushButton* FFind;
    QPushButton* FStop;
    QPushButton* FChoose;
    QProgressBar* FProgress;
    QTreeWidget* FList;
    QLabel* FStatus;
};
