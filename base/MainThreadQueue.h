#pragma once
// Hands calls over to the thread that owns the queue (the main thread), in
// the order posted, without waiting for them. The calls travel through a lock
// of our own and the owner is woken through an eventfd that it watches, so the
// posting thread never makes Qt allocate a queued event: the system Qt is not
// instrumented for the thread checker, which would otherwise see Qt's event
// built on one thread and freed on the other without anything in between.

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

class QSocketNotifier;

class TMainThreadQueue : public QObject {
    Q_OBJECT
public:
    // Raises std::system_error when no eventfd can be had.
    explicit TMainThreadQueue(QObject* parent = nullptr);
    ~TMainThreadQueue() override;
    // Any thread. Calls still waiting when the queue goes are dropped.
    void Post(std::function<void()> call);

private:
    void RunPosted();

    int FWakeFd = -1;
    QSocketNotifier* FNotifier = nullptr;
    std::mutex FLock;
    std::deque<std::function<void()>> FCalls;
};
