#include "dispatch/TimerSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch/SerialQueue.h"
#include "dispatch/testing/WaitUntil.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;
using Clock = TimerSource::Clock;

// A timer on a queue, inactive, that records its deliveries; read them only after a sync on the queue or
// under the mutex.
struct Recorded {
    std::shared_ptr<SerialQueue> queue = SerialQueue::create("test.timer");
    std::shared_ptr<TimerSource> timer = TimerSource::create(queue);
    std::mutex mutex;
    std::vector<Clock::time_point> times;
    std::atomic<int> cancels{0};

    Recorded() {
        timer->setEventHandler([this] {
            std::lock_guard lock(mutex);
            times.push_back(Clock::now());
        });
        timer->setCancelHandler([this] { cancels++; });
    }
    // The handlers must be done with `this` first.
    ~Recorded() {
        if (timer) timer->cancel();
        queue->sync([] {});
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return times.size();
    }
    bool waitFor(std::size_t n) {
        return testing::waitUntil([&] { return count() >= n; });
    }
};

TEST(TimerSourceTest, OneShotAndRepeatingNeverFireEarlyCoalesceMissedFiringsAndSuspend) {
    Recorded once, repeating;
    const auto start = Clock::now();
    once.timer->setTimer(start + 15ms, TimerSource::kNever, 30ms);
    repeating.timer->setTimer(start + 5ms, 5ms, 0ms);
    // Created inactive: nothing fires before the first resume.
    testing::settle(*repeating.queue, 20ms);
    EXPECT_EQ(once.count(), 0u);
    EXPECT_EQ(repeating.count(), 0u);

    const auto resumed = Clock::now();
    once.timer->resume();
    repeating.timer->resume();
    ASSERT_TRUE(once.waitFor(1));
    ASSERT_TRUE(repeating.waitFor(4));
    {
        std::lock_guard lock(repeating.mutex);
        // The missed firings before the resume come as one delivery; later ones keep to the grid: the i-th
        // later delivery serves a grid point at least (i-1) intervals after the first one past resume.
        EXPECT_GE(repeating.times[0], resumed);
        for (std::size_t i = 1; i < 4; ++i) {
            EXPECT_GE(repeating.times[i], resumed + static_cast<int>(i - 1) * 5ms);
            EXPECT_GT(repeating.times[i], repeating.times[i - 1]);
        }
    }
    // Suspended, re-programmed meanwhile: nothing until resumed as often as suspended.
    repeating.timer->suspend();
    repeating.timer->suspend();
    repeating.timer->setTimer(Clock::now() + 5ms, 5ms, 0ms);
    testing::settle(*repeating.queue, 5ms);  // a firing may still be on its way
    const auto suspendedAt = repeating.count();
    repeating.timer->resume();
    testing::settle(*repeating.queue, 20ms);
    EXPECT_EQ(repeating.count(), suspendedAt);
    repeating.timer->resume();
    ASSERT_TRUE(repeating.waitFor(suspendedAt + 1));

    testing::settle(*once.queue, 20ms);
    EXPECT_EQ(once.count(), 1u);
    std::lock_guard lock(once.mutex);
    EXPECT_GE(once.times[0], start + 15ms);
}

TEST(TimerSourceTest, CancelAndDroppingTheLastHandleStopDeliveries) {
    // Dropping the handle of a running timer cancels it: no more deliveries, the cancel handler once.
    {
        Recorded rec;
        rec.timer->setTimer(Clock::now(), 1ms, 0ms);
        rec.timer->resume();
        ASSERT_TRUE(rec.waitFor(2));
        rec.timer.reset();
        testing::settle(*rec.queue, 5ms);  // a firing may still be on its way
        const auto count = rec.count();
        testing::settle(*rec.queue, 20ms);
        EXPECT_EQ(rec.count(), count);
        EXPECT_EQ(rec.cancels.load(), 1);
    }
    // Cancelled while its handler runs: that handler finishes and no other starts.
    std::promise<void> started, release;
    std::atomic<int> runs{0};
    auto queue = SerialQueue::create("test.cancel");
    auto timer = TimerSource::create(queue);
    timer->setEventHandler([&, released = release.get_future().share()] {
        if (runs++ == 0) {
            started.set_value();
            released.wait();
        }
    });
    timer->setTimer(Clock::now(), 1ms, 0ms);
    timer->resume();
    started.get_future().wait();
    timer->cancel();
    release.set_value();
    testing::settle(*queue, 10ms);
    EXPECT_EQ(runs.load(), 1);
}

}  // namespace
}  // namespace dispatch
