#pragma once
// TSettingDlg: the modal dialog in which the user chooses the transport (serial
// port or network), the port number and line mode, the device server's host
// and port, and the service card. It holds nothing between openings: the main
// window fills it from the link before each opening and applies it after OK.

#include "ui/ProgramTextsU.h"

#include <QDialog>
#include <QString>

#include <memory>

class TIniFile;

namespace Ui {
class SettingDlg;
}

// What the dialog shows and gives back.
struct TSettingValues {
    int comPort = 1;   // 1..8
    int dataBits = 8;  // 8: 8-bit framed form, 9: 9-bit form
    QString ipAddress; // taken as typed
    int ipPort = 0;    // 1..65535 whenever OK can be chosen
    bool lanMode = false;
    QString serviceCard; // as typed
};

class TSettingDlg : public QDialog {
    Q_OBJECT
public:
    // Reads its texts from the main window's language file; keeps no reference to it.
    explicit TSettingDlg(const TIniFile& languageIni, QWidget* parent = nullptr);
    ~TSettingDlg() override;

    static constexpr int ClientWidth = 242;
    static constexpr int ClientHeight = 271;

    void Fill(const TSettingValues& values);
    // Meaningful while OK is enabled: then every value is in its range.
    TSettingValues Values() const;

    // The enabling follows the transport; OK needs a valid service card and IP
    // port, and on the network a host without blanks.
    void UpdateDialogControls();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate(const TIniFile& languageIni);
    void LoadDialogLanguage(const TIniFile& ini);
    void ShowPortDevice();

    std::unique_ptr<Ui::SettingDlg> ui;
    TProgramTexts FTexts;
};
