#include "base/AppErrors.h"

#include <QtGlobal>

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
        qWarning("%s", qUtf8Printable(message));
}
