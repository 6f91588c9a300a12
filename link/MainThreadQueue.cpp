#include "link/MainThreadQueue.h"

void TMainThreadQueue::Post(std::function<void()> call)
{
    {
        std::lock_guard lock(FLock);
        FCalls.push_back(std::move(call));
    }
    // By name: the queued call is then built inside Qt, carrying nothing of ours.
    QMetaObject::invokeMethod(this, "RunNext", Qt::QueuedConnection);
}

// One call per posted wake-up, so that a call which destroys the queue's owner
// leaves nothing here to touch afterwards.
void TMainThreadQueue::RunNext()
{
    std::function<void()> call;
    {
        std::lock_guard lock(FLock);
        if (FCalls.empty())
            return;
        call = std::move(FCalls.front());
        FCalls.pop_front();
    }
    call();
}
