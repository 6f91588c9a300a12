#include "ui/ApplicationU.h"

#include "base/AppErrors.h"
#include "ports/TerminationSignals.h"
#include "ui/MainWindowU.h"

#include <QMessageBox>
#include <QSessionManager>

#include <cstdio>
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
        QMessageBox::critical(QApplication::activeWindow(), QString::fromUtf8(ApplicationTitle), message);
    });
}

namespace {
void GiveUpDialogs()
{
    // Nobody may be there to answer a message box (a logout, kill): what
    // still fails on the way out, such as saving the settings, goes to
    // stderr and the program ends all the same.
    AppErrors::SetHandler([](const QString& message) {
        std::fprintf(stderr, "%s: %s\n", ApplicationTitle, qUtf8Printable(message));
    });
    // as Esc would, so that a dialog cannot hold the program up
    if (QWidget* dialog = QApplication::activeModalWidget())
        dialog->close();
}
}

TEndWhileStarting::TEndWhileStarting(TTerminationSignals& termination)
    : FConnection(QObject::connect(&termination, &TTerminationSignals::Received, [this] {
        FEndAsked = true;
        GiveUpDialogs();
    }))
{
}

TEndWhileStarting::~TEndWhileStarting()
{
    QObject::disconnect(FConnection);
}

void CloseOnRequestToEnd(TMainWindow& window, TTerminationSignals& termination)
{
    const auto close = [&window] {
        GiveUpDialogs();
        window.close();
    };
    QObject::connect(&termination, &TTerminationSignals::Received, &window, close);
    // the close is not waited for here: the session goes on at once
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window, [close](QSessionManager&) { close(); });
}
