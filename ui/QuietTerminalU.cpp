#include "ui/QuietTerminalU.h"

#include <QByteArray>
#include <QLoggingCategory>

#include <cstring>
#include <dlfcn.h>

namespace {
// Everything but the program's own warnings: Qt also warns in the default
// category. QT_LOGGING_RULES is applied after these rules.
constexpr char QuietRules[] = "*=false\nvyx.warning=true\nvyx.critical=true";

// Chromium writes its own log to stderr, in every one of its processes.
void QuietWebEngine()
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.contains("--log-level"))
        return;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --log-level=3").trimmed());
}

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// The sound library's ALSA back end prints its complaints (no sound card, no
// such device) itself; it is loaded here so that the back end shares the
// quiet handler. Without ALSA there is nothing to quieten.
void QuietAlsa()
{
    using THandler = void (*)(const char*, int, const char*, int, const char*, ...);
    void* alsa = ::dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (!alsa)
        return;
    using TSetHandler = int (*)(THandler);
    if (auto set = reinterpret_cast<TSetHandler>(::dlsym(alsa, "snd_lib_error_set_handler")))
        set(&IgnoreAlsaMessage);
    // kept loaded: the handler must outlive every use of the library
}
}

bool WantsVerbose(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--verbose") == 0)
            return true;
    return false;
}

void QuietTerminal(bool verbose)
{
    if (verbose)
        return;
    QLoggingCategory::setFilterRules(QString::fromLatin1(QuietRules));
    QuietWebEngine();
    QuietAlsa();
}
