#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "dispatch/Queue.h"

namespace dispatch::testing {

// Polls `condition` every millisecond until it holds, for tests whose work runs on other threads; false after
// `limit`.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Lets `time` pass, then waits for what `queue` has started by then: for checking that nothing (more) came.
inline void settle(Queue& queue, std::chrono::milliseconds time) {
    std::this_thread::sleep_for(time);
    queue.sync([] {});
}

}  // namespace dispatch::testing
