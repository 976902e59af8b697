#pragma once

#include "platform/Scheduler.h"

namespace platform {

// The real scheduler: delayed items go onto the main queue, which the main run loop drains.
class MainQueueScheduler : public Scheduler {
  public:
    void scheduleAfter(std::chrono::nanoseconds delay, std::shared_ptr<dispatch::WorkItem> item) override;
};

}  // namespace platform
