#pragma once
// Shared by the main-window tests: a program folder of its own with a real
// settings file, the window's controls by their names, the settings dialog
// and PNG renderings.

#include "link/CommThreadU.h"
#include "ui/MainWindowU.h"
#include "ui/SettingDlgU.h"
#include "widgets/ColorBevel.h"
#include "widgets/Colors.h"
#include "widgets/FriendlyStatusBar.h"
#include "widgets/Shape.h"
#include "widgets/TechnicalLine.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

class TProgramFolder {
public:
    // settings: the text of VyxvozeRadavo.ini; empty writes no file
    explicit TProgramFolder(const QByteArray& settings = {})
    {
        if (!settings.isEmpty()) {
            QFile file(Path() + "VyxvozeRadavo.ini");
            if (file.open(QIODevice::WriteOnly))
                file.write(settings);
        }
    }
    QString Path() const { return FDir.path() + '/'; }
    QByteArray Settings() const
    {
        QFile file(Path() + "VyxvozeRadavo.ini");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir FDir;
};

template <class T>
T* Control(const QWidget& window, const char* name)
{
    T* control = window.findChild<T*>(QString::fromLatin1(name));
    if (!control)
        qFatal("no control %s", name);
    return control;
}

// As the program starts: the settings dialog after the window, owned by it.
inline TSettingDlg& AddSettingDialog(TMainWindow& window)
{
    auto* dialog = new TSettingDlg(window.LanguageIni(), &window);
    window.SetSettingDialog(dialog);
    return *dialog;
}

// Chooses Nastaven1 and runs `use` on the open dialog; `use` ends it with OK
// or Cancel. A check that fails inside `use` cancels the dialog, so the test
// never waits on it.
inline void WhileSettingDialogOpen(TMainWindow& window, const std::function<void(TSettingDlg&)>& use)
{
    auto* dialog = window.findChild<TSettingDlg*>();
    QVERIFY(dialog);
    bool opened = false;
    QTimer drive; // goes with this call, should the dialog not open
    drive.setSingleShot(true);
    QObject::connect(&drive, &QTimer::timeout, dialog, [&] {
        opened = dialog->isVisible() && dialog->isModal();
        use(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    drive.start(0);
    Control<QAction>(window, "Nastaven1")->trigger();
    QVERIFY(opened);
}

inline QString StatusText(const QWidget& window)
{
    return Control<TFriendlyStatusBar>(window, "FriendlyStatusBar1")->PanelText(2);
}

inline TColor LampBrush(const QWidget& window)
{
    return Control<TShape>(window, "S1")->Brush();
}

inline QColor TextColor(const QWidget& window, const char* label)
{
    return Control<QLabel>(window, label)->palette().color(QPalette::WindowText);
}

// The six state indicators, in the order Relay1, Input1, Input2, Tamper,
// DoorAjar, ForcedDoor.
inline QList<TColor> Indicators(const QWidget& window)
{
    return {Control<TLMDTechnicalLine>(window, "Relay1")->FillColor(),
            Control<TLMDTechnicalLine>(window, "Input1")->FillColor(),
            Control<TLMDTechnicalLine>(window, "Input2")->FillColor(),
            Control<TShape>(window, "Tamper")->Brush(),
            Control<TShape>(window, "DoorAjar")->Brush(),
            Control<TShape>(window, "ForcedDoor")->Brush()};
}

inline QList<TColor> AllIndicators(TColor color)
{
    return QList<TColor>(6, color);
}

// The module at the selected address tells its serial number (registers 6
// to 9), as the link hands its replies on.
inline void TellSerialNumber(TMainWindow& window, const QList<std::uint8_t>& bytes)
{
    const std::uint8_t address = window.CommThread().HWAddress;
    for (int i = 0; i < bytes.size(); ++i)
        window.CommThread().OnReply(nullptr, BytesOf({address, 0x02, 0xB7, std::uint8_t(6 + i), bytes[i], 0x00, 0x00}));
}

// Written beside the test executable's build folder for a look at the window.
inline void SaveRendering(QWidget& window, const QString& name)
{
    const QString dir = QStringLiteral(VYX_RENDERING_DIR);
    QDir().mkpath(dir);
    QVERIFY(window.grab().save(dir + '/' + name + ".png"));
}
