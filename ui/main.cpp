#include "ui/ApplicationU.h"
#include "ui/BrowserWindowU.h"
#include "ui/MainWindowU.h"

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("Vyx 400 voze Radavo"));
    InstallErrorBox();

    TMainWindow mainWindow;
    TBrowserWindow browserWindow(mainWindow.AppDir(), &mainWindow);
    mainWindow.SetBrowserWindow(&browserWindow);
    mainWindow.show();
    return application.exec();
}
