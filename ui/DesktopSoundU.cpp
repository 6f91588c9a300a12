#include "ui/DesktopSoundU.h"

#include <QApplication>

#ifdef VYX_HAVE_CANBERRA
#include <canberra.h>

#include <memory>

namespace {
struct TContextDeleter {
    void operator()(ca_context* context) const { ca_context_destroy(context); }
};

// One context for the program's life: a sound still playing belongs to it.
ca_context* SoundContext()
{
    static const std::unique_ptr<ca_context, TContextDeleter> context = [] {
        ca_context* created = nullptr;
        if (ca_context_create(&created) != CA_SUCCESS)
            return std::unique_ptr<ca_context, TContextDeleter>();
        ca_context_change_props(created, CA_PROP_APPLICATION_NAME,
                                qPrintable(QApplication::applicationName()), nullptr);
        return std::unique_ptr<ca_context, TContextDeleter>(created);
    }();
    return context.get();
}

bool PlayThemeSound(const char* eventId)
{
    ca_context* context = SoundContext();
    return context && ca_context_play(context, 0, CA_PROP_EVENT_ID, eventId, nullptr) == CA_SUCCESS;
}
}
#else
namespace {
bool PlayThemeSound(const char*)
{
    return false;
}
}
#endif

void PlayDesktopSound(const char* eventId)
{
    // no sound server, no theme or no such event: the beep is better than silence
    if (!PlayThemeSound(eventId))
        QApplication::beep();
}
