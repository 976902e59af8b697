#include "platform/MainQueueScheduler.h"

#include "dispatch/SerialQueue.h"

namespace platform {

void MainQueueScheduler::scheduleAfter(std::chrono::nanoseconds delay,
                                       std::shared_ptr<dispatch::WorkItem> item) {
    dispatch::Queue::main()->asyncAfter(delay, std::move(item));
}

}  // namespace platform
