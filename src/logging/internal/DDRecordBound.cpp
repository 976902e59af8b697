#include "logging/internal/DDRecordBound.h"

#include <chrono>

namespace logging::internal {

void RecordBound::acquire(bool (*mustNotWait)()) {
    if (tryAcquire()) return;
    std::unique_lock lock(mutex_);
    // Announced before the re-check: a release either sees the waiter or leaves the room the re-check finds.
    waiters_.fetch_add(1, std::memory_order_seq_cst);
    while (!room_.wait_for(lock, std::chrono::milliseconds(10), [this] { return tryAcquire(); })) {
        lock.unlock();
        const bool stop = mustNotWait();
        lock.lock();
        if (stop) {
            acquireNow();
            break;
        }
    }
    waiters_.fetch_sub(1, std::memory_order_relaxed);
}

void RecordBound::wakeIfRoom(std::size_t left) {
    const std::size_t limit = limit_.load(std::memory_order_relaxed);
    if (left > limit - limit / 16) return;
    {
        // Taking the lock orders this wake-up after a waiter's failed re-check.
        std::lock_guard lock(mutex_);
    }
    room_.notify_all();
}

void RecordBound::setLimit(std::size_t limit) {
    limit_.store(limit < 1 ? 1 : limit, std::memory_order_seq_cst);
    { std::lock_guard lock(mutex_); }
    room_.notify_all();
}

}  // namespace logging::internal
