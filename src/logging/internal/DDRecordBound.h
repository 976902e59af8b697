#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace logging::internal {

// Counts the dispatcher's records in flight (queued asynchronously, not yet delivered) and makes callers wait
// for room once `limit` of them are out, so that a producer that outruns the loggers cannot grow memory
// without end.
//
// Who calls it: the dispatcher, on any thread. `tryAcquire` and `acquireNow` never block; `acquire` blocks
// until a place is free. A caller whose record could only be delivered after it returns (code on the logging
// queue, or on a queue the logging queue waits for) must use `acquireNow`: waiting there deadlocks.
//
// Waiters are woken once a sixteenth of the limit has drained rather than on every delivery: a wake-up per
// record would slow the logging thread that makes the room, a wake-up per quarter made each wait long.
class RecordBound {
  public:
    explicit RecordBound(std::size_t limit) : limit_(limit < 1 ? 1 : limit) {}
    RecordBound(const RecordBound&) = delete;
    RecordBound& operator=(const RecordBound&) = delete;

    // Takes a place if one is free.
    bool tryAcquire() {
        std::size_t count = count_.load(std::memory_order_relaxed);
        while (count < limit_.load(std::memory_order_relaxed)) {
            if (count_.compare_exchange_weak(count, count + 1, std::memory_order_seq_cst,
                                             std::memory_order_relaxed)) {
                return true;
            }
        }
        return false;
    }
    // Blocking: takes a place, waiting until one is free. While waiting, asks `mustNotWait` every few
    // milliseconds and takes a place at once when it says so: a caller may become one that must not wait
    // (its queue may turn into one the logging queue waits for) after it started waiting.
    void acquire(bool (*mustNotWait)());
    // Takes a place at once, beyond the limit if need be.
    void acquireNow() { count_.fetch_add(1, std::memory_order_seq_cst); }
    void release() {
        const std::size_t left = count_.fetch_sub(1, std::memory_order_seq_cst) - 1;
        if (waiters_.load(std::memory_order_seq_cst) > 0) wakeIfRoom(left);
    }

    // At least 1. Waiters re-check at once.
    void setLimit(std::size_t limit);
    std::size_t limit() const { return limit_.load(std::memory_order_relaxed); }
    std::size_t inFlight() const { return count_.load(std::memory_order_relaxed); }

  private:
    void wakeIfRoom(std::size_t left);

    std::atomic<std::size_t> count_{0};
    std::atomic<std::size_t> limit_;
    std::atomic<int> waiters_{0};  // changed under mutex_, read without it
    std::mutex mutex_;
    std::condition_variable room_;
};

}  // namespace logging::internal
