#pragma once
// The program's application object and its general error reporting: an error
// that reaches the message loop, or that the link hands to AppErrors, is shown
// in a message box.

#include <QApplication>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    // Qt cannot carry an exception through its event loop: a handler's
    // exception ends here and goes to the error box.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Makes AppErrors::Report show the message box with the caption "Error".
void InstallErrorBox();
