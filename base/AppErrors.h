#pragma once
// The application's general error reporting. The link and the ports never show
// dialogs: an error that has no caller to go to (one raised while a socket
// notification or a received chunk is handled) is handed here, and the window
// decides how to show it. Call on the main thread.

#include <QLoggingCategory>
#include <QString>

#include <functional>

// The program's own warnings ("vyx"): the program shows them when it hides
// what Qt and the libraries below it say.
Q_DECLARE_LOGGING_CATEGORY(ProgramLog)

namespace AppErrors {
using THandler = std::function<void(const QString& message)>;
// Replaces the handler; an empty one restores the default (a qWarning line).
void SetHandler(THandler handler);
void Report(const QString& message);
}
