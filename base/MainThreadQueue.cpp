#include "base/MainThreadQueue.h"

#include <QPointer>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

TMainThreadQueue::TMainThreadQueue(QObject* parent)
    : QObject(parent)
    , FWakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (FWakeFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    FNotifier = new QSocketNotifier(FWakeFd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TMainThreadQueue::RunPosted);
}

TMainThreadQueue::~TMainThreadQueue()
{
    delete FNotifier;
    ::close(FWakeFd);
}

void TMainThreadQueue::Post(std::function<void()> call)
{
    {
        std::lock_guard lock(FLock);
        FCalls.push_back(std::move(call));
    }
    const std::uint64_t one = 1;
    // Fails only when the counter is full, and then a wake-up is pending anyway.
    while (::write(FWakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TMainThreadQueue::RunPosted()
{
    std::uint64_t count = 0;
    while (::read(FWakeFd, &count, sizeof count) < 0 && errno == EINTR) {
    }
    // A call may destroy the queue's owner, and the queue with it.
    const QPointer<TMainThreadQueue> alive(this);
    while (alive) {
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
}
