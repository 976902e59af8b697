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

TEST(TimerSourceTest, OneShotAndRepeatingNeverFireEarly) {
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
    repeating.timer->cancel();
    testing::settle(*once.queue, 20ms);
    EXPECT_EQ(once.count(), 1u);
    std::lock_guard lock(repeating.mutex);
    EXPECT_GE(once.times[0], start + 15ms);
    // The missed firings before the resume come as one delivery; later ones keep to the grid.
    EXPECT_GE(repeating.times[0], resumed);
    for (std::size_t i = 1; i < repeating.times.size(); ++i) {
        // The i-th later delivery serves a grid point at least (i-1) intervals after the first one past
        // resume.
        EXPECT_GE(repeating.times[i], resumed + static_cast<int>(i - 1) * 5ms);
        EXPECT_GT(repeating.times[i], repeating.times[i - 1]);
    }
}

TEST(TimerSourceTest, MissedFiringsCoalesceIntoOneDeliveryAlsoAfterASuspension) {
    Recorded rec;
    // Three firings are already due (t0-500, -300, -100); the next is at t0+100.
    const auto t0 = Clock::now();
    rec.timer->setTimer(t0 - 500ms, 200ms, 0ms);
    rec.timer->resume();
    ASSERT_TRUE(rec.waitFor(1));
    testing::settle(*rec.queue, 30ms);
    if (Clock::now() < t0 + 100ms) EXPECT_EQ(rec.count(), 1u);
    ASSERT_TRUE(rec.waitFor(2));
    {
        std::lock_guard lock(rec.mutex);
        EXPECT_GE(rec.times[1], t0 + 100ms);
    }

    // Suspended: no deliveries; suspensions are counted; one delivery for everything missed on resume.
    rec.timer->suspend();
    rec.timer->suspend();
    rec.queue->sync([] {});
    const auto before = rec.count();
    rec.timer->setTimer(Clock::now() + 5ms, 5ms, 0ms);  // re-programmed while suspended
    std::this_thread::sleep_for(30ms);
    rec.timer->resume();
    testing::settle(*rec.queue, 10ms);
    EXPECT_EQ(rec.count(), before);
    rec.timer->resume();
    ASSERT_TRUE(rec.waitFor(before + 1));
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
