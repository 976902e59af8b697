#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "dispatch/Queue.h"

namespace dispatch {

// A timer that runs its event handler on a target queue, once or repeatedly.
//
// Lifecycle: created inactive (suspended once). `resume` balances one `suspend` (the first `resume` activates
// it); while suspended, firings are coalesced into one delivery on the next resume. `setTimer` may be called
// at any time to re-programme it. `cancel` stops it for good: no handler starts after `cancel` returns, apart
// from one that had already started; the cancel handler, if any, then runs once on the target queue.
//
// `leeway` lets the timer fire up to that much late so that wake-ups can be batched; it never fires early.
// `interval` kNever (or zero or less) makes a one-shot timer. The handle owns the timer: destroying the last
// handle cancels it (the cancel handler still runs). Thread-safe; the handlers may call any of these methods.
class TimerSource {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr Duration kNever = Duration::max();

    static std::shared_ptr<TimerSource> create(std::shared_ptr<Queue> target);
    ~TimerSource();

    // First firing at `start`, then every `interval` (kNever = one-shot).
    void setTimer(Clock::time_point start, Duration interval, Duration leeway);
    void setEventHandler(Work handler);
    void setCancelHandler(Work handler);
    void resume();
    void suspend();
    void cancel();
    bool isCancelled() const;

  private:
    friend struct TimerSourceAccess;
    TimerSource() = default;
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace dispatch
