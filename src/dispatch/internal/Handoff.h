#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace dispatch::internal {

// A one-shot signal from one thread to one waiting thread, living on the waiter's stack. A raw futex rather
// than a condition variable: the waiter may return and drop the object as soon as it sees the flag, and a
// futex wake on a stale address is harmless, whereas touching a destroyed mutex is not.
class Handoff {
  public:
    void signal() {
        state_.store(1, std::memory_order_release);
        ::syscall(SYS_futex, &state_, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    }
    // Blocking until signal() has been called.
    void wait() {
        while (state_.load(std::memory_order_acquire) == 0) {
            ::syscall(SYS_futex, &state_, FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
        }
    }
    bool isSignalled() const { return state_.load(std::memory_order_acquire) != 0; }

  private:
    std::atomic<std::uint32_t> state_{0};
};

}  // namespace dispatch::internal
