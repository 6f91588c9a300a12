#include "ui/ApplicationU.h"

#include "link/AppErrors.h"

#include <QMessageBox>

#include <exception>

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        AppErrors::Report(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void InstallErrorBox()
{
    AppErrors::SetHandler([](const QString& message) {
        QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Error"), message);
    });
}
