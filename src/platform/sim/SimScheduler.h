#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Scheduler.h"

namespace platform::sim {

// A virtual clock for delayed work: nothing runs until a test advances the clock, then due items run on the
// test's thread in due order (items due at the same time in the order scheduled), each seeing `now()` at its
// own due time. Items scheduled while advancing run in the same call when they fall due within it.
// Single-threaded: the test thread plays the main thread.
class SimScheduler : public Scheduler {
  public:
    using Duration = std::chrono::nanoseconds;

    void scheduleAfter(Duration delay, std::shared_ptr<dispatch::WorkItem> item) override;

    Duration now() const { return now_; }
    void advance(Duration by);
    // Runs everything pending, however far ahead; returns how many items ran (cancelled ones do not count).
    std::size_t runAll();
    // Items scheduled and neither run nor cancelled.
    std::size_t pendingCount() const;
    // The due time of the earliest pending item, or Duration::max() when none.
    Duration nextDueTime() const;

  private:
    struct Entry {
        Duration due;
        std::uint64_t sequence;
        std::shared_ptr<dispatch::WorkItem> item;
    };
    // Removes and returns the earliest entry due at or before `limit`, if any.
    bool popDue(Duration limit, Entry& out);

    Duration now_{0};
    std::uint64_t nextSequence_ = 0;
    std::vector<Entry> entries_;
};

}  // namespace platform::sim
