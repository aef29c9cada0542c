// TRateLimiter: lets an action run at most once per interval. A request
// that comes sooner is not lost: the action runs once when the interval
// since its last run has passed, however many requests came meanwhile, so
// the last state is always told. Used for what the controls tell assistive
// technology while they change many times a second (the gauge's value, the
// progress text), so that a screen reader hears a few updates a second
// rather than every one.
//
// The action runs from the event loop of the thread that made the limiter,
// inside the application's guard (an exception goes to the standard error
// box); a limiter that goes away drops its pending run.
#pragma once
#include <QElapsedTimer>
#include <QTimer>

#include <functional>

class TRateLimiter {
public:
    TRateLimiter(int intervalMs, std::function<void()> action);

    int Interval() const { return interval_; }
    // At once when the last run lies an interval back (or there was none),
    // else once when it does.
    void Request();
    // A pending run is dropped.
    void Cancel();
    bool Pending() const { return timer_.isActive(); }

private:
    void Run();

    int interval_;
    std::function<void()> action_;
    QElapsedTimer last_;
    QTimer timer_;
};
