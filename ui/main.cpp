#include "ui/ApplicationU.h"
#include "ui/MainWindowU.h"
#include "ui/SettingDlgU.h"

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("Vyx 400 voze Radavo"));
    InstallErrorBox();

    // In this order: the settings dialog reads its texts through the main
    // window's language file, and the certificate window follows the dialog.
    TMainWindow mainWindow;
    auto* settingDlg = new TSettingDlg(mainWindow.LanguageIni(), &mainWindow);
    mainWindow.SetSettingDialog(settingDlg);

    mainWindow.show();
    return application.exec();
}
