#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_set>
#include <vector>

// A thread-safe set of context numbers: the list behind the context filter formatters. Every operation
// holds the mutex for its whole (short) duration, so the list may change from any thread while loggers test
// records against it on their queues. `currentSet` hands out a copy, so callers never see it change under
// them.
class DDLoggingContextSet {
  public:
    // Adding a number already present, or removing one that is absent, changes nothing.
    void addToSet(std::int64_t context);
    void removeFromSet(std::int64_t context);
    // A snapshot of every number, in no defined order.
    std::vector<std::int64_t> currentSet() const;
    bool isInSet(std::int64_t context) const;

  private:
    mutable std::mutex mutex_;
    std::unordered_set<std::int64_t> set_;  // guarded by mutex_
};
