#pragma once

#include <chrono>
#include <memory>

#include "dispatch/WorkItem.h"

namespace platform {

// Runs delayed work on the main thread: the real one puts it on the main queue, the simulated desktop on its
// virtual clock, so tests fast-forward instead of sleeping.
//
// The item runs once `delay` has passed, unless cancelled first (cancelling through the item). Items due at
// the same time run in the order scheduled. Main thread only.
class Scheduler {
  public:
    virtual ~Scheduler() = default;
    virtual void scheduleAfter(std::chrono::nanoseconds delay, std::shared_ptr<dispatch::WorkItem> item) = 0;
};

}  // namespace platform
