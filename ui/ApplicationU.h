#pragma once
// The program's application object and its general error reporting: an error
// that reaches the message loop, or that the link hands to AppErrors, is shown
// in a message box.

#include <QApplication>

class TMainWindow;
class TTerminationSignals;

// The application title: the error box's caption and the application name. It
// is no display name, which the window system would append to every caption.
inline constexpr char ApplicationTitle[] = "Vyx 400 voze Radavo";

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    // Qt cannot carry an exception through its event loop: a handler's
    // exception ends here and goes to the error box.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Makes AppErrors::Report show the message box with the application title.
void InstallErrorBox();

// A request to end that comes while the program starts, when nothing else
// listens for it yet (a start-up message box is up): the box is cancelled,
// errors go to stderr from then on, and EndAsked tells the program to end
// as soon as it can, the window's settings saved as at any close.
class TEndWhileStarting {
public:
    explicit TEndWhileStarting(TTerminationSignals& termination);
    ~TEndWhileStarting();
    TEndWhileStarting(const TEndWhileStarting&) = delete;
    TEndWhileStarting& operator=(const TEndWhileStarting&) = delete;
    bool EndAsked() const { return FEndAsked; }

private:
    QMetaObject::Connection FConnection;
    bool FEndAsked = false;
};

// Asked from outside to end (SIGTERM at logout or from kill, Ctrl+C, a closed
// terminal, the session manager's end of session), the program ends as by the
// window's close box: an open dialog cancelled, the link closed first, the
// settings saved when the window goes. Nothing asks the user or holds the
// session up: from then on errors go to stderr instead of a message box.
void CloseOnRequestToEnd(TMainWindow& window, TTerminationSignals& termination);
