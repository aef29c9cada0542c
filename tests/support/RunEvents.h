// RunEventsUntil: lets the event loop run until a condition holds
// (bounded), for tests that wait on what the loop delivers.
#pragma once
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

namespace testsupport {

// False when the condition still fails after ms milliseconds.
template <typename F>
bool RunEventsUntil(F condition, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

} // namespace testsupport
