#pragma once
// Records every event of a link in the order it arrives, and whether any
// arrived off the main thread.

#include "link/CommThreadU.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

struct TLinkEventLog {
    QStringList events;
    QList<TCanonicalFrame> replies;
    bool offMainThread = false;

    int Count(const char* event) const { return int(events.count(QLatin1String(event))); }

    void Attach(TCommThread& link)
    {
        link.OnOpen = [this](TCommThread*) { Note("open"); };
        link.OnClose = [this](TCommThread*) { Note("close"); };
        link.OnCommError = [this](TCommThread*) { Note("error"); };
        link.OnChecksumError = [this](TCommThread*) { Note("checksum"); };
        link.OnTimeout = [this](TCommThread*) { Note("timeout"); };
        link.OnReply = [this](TCommThread*, const TCanonicalFrame& f) {
            replies << f;
            Note("reply");
        };
        link.OnCommandDone = [this](TCommThread*) { Note("done"); };
        link.OnCommandTimeout = [this](TCommThread*) { Note("commandtimeout"); };
    }

private:
    void Note(const char* event)
    {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            offMainThread = true;
        events << QLatin1String(event);
    }
};
