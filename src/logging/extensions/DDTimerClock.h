#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "dispatch/SerialQueue.h"
#include "dispatch/TimerSource.h"

// The monotonic clock and the repeating timers of a logger that works on a schedule (the database logger's
// save and delete timers). `system()` is the steady clock with dispatch timer sources; a test substitutes a
// clock that stands still until moved, whose timers fire when it passes their time, so that minutes of
// schedule take no time to test.
//
// A timer is created inactive, like a timer source: the first `resume` activates it, later ones balance a
// `suspend`; firings that fall due while it is suspended are delivered once on the next resume. The handler
// runs on the queue given at creation. Destroying the timer cancels it; no handler starts afterwards.
// Thread-safe.
class DDTimerClock {
  public:
    using TimePoint = dispatch::TimerSource::Clock::time_point;
    using Duration = dispatch::Duration;

    class Timer {
      public:
        virtual ~Timer() = default;
        // First firing at `start`, then every `interval`.
        virtual void setTimer(TimePoint start, Duration interval, Duration leeway) = 0;
        virtual void resume() = 0;
        virtual void suspend() = 0;
        virtual void cancel() = 0;
    };

    virtual ~DDTimerClock() = default;
    virtual TimePoint now() const = 0;
    virtual std::unique_ptr<Timer> createTimer(std::shared_ptr<dispatch::SerialQueue> queue,
                                               std::function<void()> handler) = 0;

    // The steady clock and dispatch timer sources; one instance for the process.
    static std::shared_ptr<DDTimerClock> system();
};
