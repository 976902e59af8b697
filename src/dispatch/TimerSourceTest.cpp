#include "dispatch/TimerSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch/SerialQueue.h"
#include "dispatch/internal/EventLoop.h"
#include "dispatch/testing/WaitUntil.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;
using Clock = TimerSource::Clock;

// Records deliveries; read only after a sync on the target queue or under the mutex.
struct Recorder {
    std::mutex mutex;
    std::vector<Clock::time_point> times;
    std::atomic<int> cancels{0};

    // A timer on `queue`, inactive, that records here.
    std::shared_ptr<TimerSource> timerOn(const std::shared_ptr<SerialQueue>& queue) {
        auto timer = TimerSource::create(queue);
        timer->setEventHandler([this] {
            std::lock_guard lock(mutex);
            times.push_back(Clock::now());
        });
        return timer;
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
    auto queue = SerialQueue::create("test.timer");
    Recorder once, repeating;
    auto oneShot = once.timerOn(queue);
    auto periodic = repeating.timerOn(queue);
    const auto start = Clock::now();
    oneShot->setTimer(start + 15ms, TimerSource::kNever, 30ms);
    periodic->setTimer(start + 5ms, 5ms, 0ms);
    // Created inactive: nothing fires before the first resume.
    testing::settle(*queue, 20ms);
    EXPECT_EQ(once.count(), 0u);
    EXPECT_EQ(repeating.count(), 0u);

    const auto resumed = Clock::now();
    oneShot->resume();
    periodic->resume();
    ASSERT_TRUE(once.waitFor(1));
    ASSERT_TRUE(repeating.waitFor(4));
    periodic->cancel();
    testing::settle(*queue, 20ms);
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

TEST(TimerSourceTest, MissedFiringsCoalesceIntoOneDeliveryAndReprogrammingReplacesTheSchedule) {
    auto queue = SerialQueue::create("test.coalesce");
    Recorder rec;
    auto timer = rec.timerOn(queue);
    // Three firings are already due (t0-500, -300, -100); the next is at t0+100.
    const auto t0 = Clock::now();
    timer->setTimer(t0 - 500ms, 200ms, 0ms);
    timer->resume();
    ASSERT_TRUE(rec.waitFor(1));
    testing::settle(*queue, 30ms);
    if (Clock::now() < t0 + 100ms) {
        EXPECT_EQ(rec.count(), 1u);
    }
    ASSERT_TRUE(rec.waitFor(2));
    {
        std::lock_guard lock(rec.mutex);
        EXPECT_GE(rec.times[1], t0 + 100ms);
    }

    // Suspended: no deliveries; suspensions are counted; one delivery for everything missed on resume.
    timer->suspend();
    timer->suspend();
    queue->sync([] {});
    const auto before = rec.count();
    timer->setTimer(Clock::now() + 5ms, 5ms, 0ms);  // re-programmed while suspended
    std::this_thread::sleep_for(30ms);
    timer->resume();
    testing::settle(*queue, 10ms);
    EXPECT_EQ(rec.count(), before);
    timer->resume();
    ASSERT_TRUE(rec.waitFor(before + 1));

    // Programming a running timer replaces its schedule: a one-shot in 10 ms instead of every millisecond.
    timer->setTimer(Clock::now() + std::chrono::hours(1), 1ms, 0ms);
    testing::settle(*queue, 10ms);  // a firing of the old schedule may still be on its way
    const auto count = rec.count();
    const auto t1 = Clock::now();
    timer->setTimer(t1 + 10ms, TimerSource::kNever, 0ms);
    ASSERT_TRUE(rec.waitFor(count + 1));
    testing::settle(*queue, 20ms);
    EXPECT_EQ(rec.count(), count + 1);
    std::lock_guard lock(rec.mutex);
    EXPECT_GE(rec.times.back(), t1 + 10ms);
    timer->cancel();
}

TEST(TimerSourceTest, LeewayBatchesWakeUpsButNeverFiresEarly) {
    auto& loop = internal::EventLoop::instance();
    std::mutex mutex;
    std::vector<std::pair<int, Clock::time_point>> fired;
    std::promise<void> done;
    std::atomic<int> left{3};
    auto record = [&](int n) {
        return [&, n] {
            {
                std::lock_guard lock(mutex);
                fired.emplace_back(n, Clock::now());
            }
            if (--left == 0) done.set_value();
        };
    };
    const auto t0 = Clock::now();
    loop.addTimer(t0 + 10ms, 20ms, record(10));
    loop.addTimer(t0 + 15ms, 20ms, record(15));
    loop.addTimer(t0 + 60ms, 0ms, record(60));
    done.get_future().wait();
    std::lock_guard lock(mutex);
    ASSERT_EQ(fired.size(), 3u);
    // The first two share one wake-up at the later deadline, within the first one's leeway.
    EXPECT_EQ(fired[0].first + fired[1].first, 25);
    EXPECT_GE(fired[0].second, t0 + 15ms);
    EXPECT_GE(fired[1].second, t0 + 15ms);
    EXPECT_EQ(fired[2].first, 60);
    EXPECT_GE(fired[2].second, t0 + 60ms);
}

TEST(TimerSourceTest, CancelStopsDeliveriesAndRunsCancelHandlerOnce) {
    auto queue = SerialQueue::create("test.cancel");
    // Cancelled before its first firing.
    {
        Recorder rec;
        auto timer = rec.timerOn(queue);
        timer->setCancelHandler([&] { rec.cancels++; });
        timer->setTimer(Clock::now() + 10ms, TimerSource::kNever, 0ms);
        timer->resume();
        timer->cancel();
        timer->cancel();
        EXPECT_TRUE(timer->isCancelled());
        testing::settle(*queue, 25ms);
        EXPECT_EQ(rec.count(), 0u);
        EXPECT_EQ(rec.cancels.load(), 1);
    }
    // Cancelled while its handler runs: that handler finishes, no other starts, the cancel handler runs
    // after.
    {
        std::promise<void> started, release;
        auto released = release.get_future();
        std::atomic<int> runs{0};
        std::atomic<bool> cancelAfterHandler{false};
        auto timer = TimerSource::create(queue);
        timer->setEventHandler([&] {
            if (runs++ == 0) {
                started.set_value();
                released.wait();
            }
        });
        timer->setCancelHandler([&] { cancelAfterHandler = runs.load() == 1; });
        timer->setTimer(Clock::now(), 1ms, 0ms);
        timer->resume();
        started.get_future().wait();
        timer->cancel();
        release.set_value();
        testing::settle(*queue, 10ms);
        EXPECT_EQ(runs.load(), 1);
        EXPECT_TRUE(cancelAfterHandler);
    }
    // Never resumed, then dropped: dropping the last handle cancels.
    {
        Recorder rec;
        auto timer = rec.timerOn(queue);
        timer->setCancelHandler([&] { rec.cancels++; });
        timer.reset();
        queue->sync([] {});
        EXPECT_EQ(rec.cancels.load(), 1);
    }
}

}  // namespace
}  // namespace dispatch
