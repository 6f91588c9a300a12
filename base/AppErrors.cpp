#include "base/AppErrors.h"

#include <QtGlobal>

Q_LOGGING_CATEGORY(ProgramLog, "vyx")

namespace {
AppErrors::THandler& Handler()
{
    static AppErrors::THandler handler;
    return handler;
}
}

void AppErrors::SetHandler(THandler handler)
{
    Handler() = std::move(handler);
}

void AppErrors::Report(const QString& message)
{
    if (Handler())
        Handler()(message);
    else
        qCWarning(ProgramLog, "%s", qUtf8Printable(message));
}
