#pragma once

#include <atomic>
#include <memory>

#include "dispatch/Queue.h"

namespace dispatch {

// A cancellable unit of work. Cancelling an item that has not started keeps it from running; cancelling one
// that has started or run has no effect on it. Thread-safe.
class WorkItem {
  public:
    static std::shared_ptr<WorkItem> create(Work work);

    void cancel() { cancelled_.store(true, std::memory_order_release); }
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }
    // Runs the work unless cancelled. Called by the queue the item was submitted to.
    void perform();

  private:
    explicit WorkItem(Work work) : work_(std::move(work)) {}
    Work work_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace dispatch
