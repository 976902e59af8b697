#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Scheduler.h"

namespace platform {

// The pending `Pasteboard::waitForChange` calls of one pasteboard, for backends to share: each waiter is
// settled exactly once, through its scheduler (never on the stack of the call that reported the change),
// with true when the change count moved away from its `since`, with false when its bound passed or, for a
// waiter that ends on user input, when the user pressed a key or button first.
//
// Main thread only. The backend reports every possible change (`changed`) and, while `watchesUserInput()`,
// the user's presses (`userInput`).
class PasteboardChangeWaiters {
  public:
    using Done = std::function<void(bool changed)>;

    // `count` is the change count now: a waiter whose `since` already differs is settled at once.
    void add(std::int64_t since, std::int64_t count, std::chrono::nanoseconds bound, bool endOnUserInput,
             Scheduler& scheduler, Done done);
    void changed(std::int64_t count);
    void userInput();
    bool watchesUserInput() const;

  private:
    struct Waiter;
    static void settle(const std::shared_ptr<Waiter>& waiter, bool changed);
    void prune();

    std::vector<std::shared_ptr<Waiter>> waiters_;
};

}  // namespace platform
