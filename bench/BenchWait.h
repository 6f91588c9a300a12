#pragma once
// The benchmarks' one wait: the event loop runs until the condition holds.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

// Keeps the event loop running until done() holds or the time is up.
template <class F>
bool WaitFor(F done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
    }
    return true;
}
