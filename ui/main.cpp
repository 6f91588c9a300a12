#include "base/AppErrors.h"
#include "ports/TerminationSignals.h"
#include "files/AppFoldersU.h"
#include "files/SettingsLockU.h"
#include "ui/ApplicationU.h"
#include "ui/BrowserWindowU.h"
#include "files/IniFile.h"
#include "ui/MainWindowU.h"
#include "ui/ProgramTextsU.h"
#include "ui/QuietTerminalU.h"
#include "ui/SettingDlgU.h"

#include <optional>

int main(int argc, char** argv)
{
    QuietTerminal(WantsVerbose(argc, argv));
    TApplication application(argc, argv);
    application.setApplicationName(QString::fromUtf8(ApplicationTitle));
    // the taskbar finds the icon through the desktop file; no display name,
    // which the window system would append to the caption
    application.setDesktopFileName(QStringLiteral("cz.kalvent.VyxvozeRadavo"));
    InstallErrorBox();

    // Logout, kill and Ctrl+C close the window as its close box does: the link
    // closed first, the settings saved. Caught from the start, so that a signal
    // during start-up waits for the window instead of ending the program unsaved.
    TTerminationSignals terminationSignals;
    QString error;
    if (!terminationSignals.Install(error))
        qCWarning(ProgramLog, "%s", qPrintable(error));

    // In this order: the settings dialog reads its texts through the main
    // window's language file, and the certificate window follows the dialog.
    std::optional<TMainWindow> window;
    const TAppFolders folders = AppFolders(QCoreApplication::applicationDirPath());
    {
        TEndWhileStarting starting(terminationSignals);
        try {
            window.emplace(folders);
        } catch (const ESettingsLocked& e) {
            // another window or vyxctl hands out serial numbers from that file
            AppErrors::Report(LockMessage(e, ProgramTexts(TIniFile(folders.languageFile))));
            return 1;
        }
        // the window goes unshown, and saves its settings as it goes
        if (starting.EndAsked())
            return 0;
    }
    TMainWindow& mainWindow = *window;
    auto* settingDlg = new TSettingDlg(mainWindow.LanguageIni(), &mainWindow);
    mainWindow.SetSettingDialog(settingDlg);
    TBrowserWindow browserWindow(mainWindow.Folders().pageFolder, &mainWindow);
    mainWindow.SetBrowserWindow(&browserWindow);
    CloseOnRequestToEnd(mainWindow, terminationSignals);

    mainWindow.show();
    return application.exec();
}
