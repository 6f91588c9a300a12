#pragma once
// Hands calls over to the thread that owns the queue (the main thread), in
// the order posted, without waiting for them. The calls and the copies they
// carry travel through a lock of our own rather than inside Qt's queued-call
// objects: the system Qt is not instrumented for the thread checker, which
// would otherwise see a call built on one thread and freed on another
// without anything in between.

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

class TMainThreadQueue : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Any thread. Calls still waiting when the queue goes are dropped.
    void Post(std::function<void()> call);

private:
    Q_INVOKABLE void RunNext();

    std::mutex FLock;
    std::deque<std::function<void()>> FCalls;
};
