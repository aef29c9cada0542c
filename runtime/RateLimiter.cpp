#include "runtime/RateLimiter.h"

#include "runtime/Application.h"

#include <algorithm>

TRateLimiter::TRateLimiter(int intervalMs, std::function<void()> action)
    : interval_(std::max(intervalMs, 0)), action_(std::move(action))
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer); // never before the interval is over
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Guarded([this] { Run(); }); });
}

void TRateLimiter::Request()
{
    if (timer_.isActive())
        return; // the pending run will tell the latest state
    const qint64 since = last_.isValid() ? last_.elapsed() : interval_;
    if (since >= interval_) {
        Run();
        return;
    }
    timer_.start(static_cast<int>(interval_ - since));
}

void TRateLimiter::Cancel()
{
    timer_.stop();
}

void TRateLimiter::Run()
{
    last_.start();
    action_();
}
