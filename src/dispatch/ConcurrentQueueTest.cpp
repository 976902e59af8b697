#include "dispatch/ConcurrentQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <latch>
#include <string>
#include <thread>

#include "dispatch/internal/WorkerPool.h"
#include "dispatch/testing/WaitUntil.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;

TEST(ConcurrentQueueTest, PlainItemsOverlapAndABarrierRunsAloneBetweenEarlierAndLaterItems) {
    auto queue = ConcurrentQueue::create("test.barrier");
    // Each item waits for the other: this only completes if both run at once.
    std::latch both(2);
    for (int i = 0; i < 2; ++i) queue->async([&] { both.arrive_and_wait(); });
    both.wait();
    std::atomic<int> running{0};
    std::atomic<int> finishedBefore{0};
    std::atomic<bool> barrierDone{false};
    std::atomic<bool> violation{false};
    constexpr int kBefore = 20, kAfter = 20;
    for (int i = 0; i < kBefore; ++i) {
        queue->async([&] {
            running.fetch_add(1);
            std::this_thread::sleep_for(1ms);
            finishedBefore.fetch_add(1);
            running.fetch_sub(1);
        });
    }
    queue->asyncBarrier([&] {
        if (running.load() != 0 || finishedBefore.load() != kBefore) violation = true;
        running.fetch_add(1);
        std::this_thread::sleep_for(2ms);
        running.fetch_sub(1);
        barrierDone = true;
    });
    std::atomic<int> afterDone{0};
    for (int i = 0; i < kAfter; ++i) {
        queue->async([&] {
            if (!barrierDone.load()) violation = true;
            std::this_thread::sleep_for(1ms);
            afterDone.fetch_add(1);
        });
    }
    // A synchronous barrier also waits for everything before it.
    int seen = -1;
    queue->syncBarrier([&] { seen = afterDone.load(); });
    EXPECT_EQ(seen, kAfter);
    EXPECT_FALSE(violation);
}

TEST(ConcurrentQueueTest, GlobalQueuesHavePlatformLabelsAndIgnoreBarriers) {
    for (const auto& [qos, label] : {std::pair{Qos::Default, "com.apple.root.default-priority"},
                                     std::pair{Qos::UserInteractive, "com.apple.root.high-priority"},
                                     std::pair{Qos::Utility, "com.apple.root.low-priority"}})
        EXPECT_EQ(Queue::global(qos)->label(), label);
    EXPECT_EQ(Queue::global(), Queue::global(Qos::Default));
    // A barrier on a global queue must not wait for a running item.
    std::promise<void> release;
    std::latch started(1);
    Queue::global()->async([&, released = release.get_future().share()] {
        started.count_down();
        released.wait();
    });
    started.wait();
    std::promise<std::uint32_t> qos;
    Queue::global()->asyncBarrier([&] { qos.set_value(currentQos()); });
    EXPECT_EQ(qos.get_future().get(), static_cast<std::uint32_t>(Qos::Default));
    release.set_value();
}

// An idle process holds no worker threads: both the pool's count and the threads themselves go to zero.
TEST(ConcurrentQueueTest, IdleWorkerThreadsRetire) {
    auto& pool = internal::WorkerPool::instance();
    pool.setIdleTimeout(20ms);
    // Worker threads are the process's unnamed threads.
    auto noWorkers = [&] {
        std::size_t tasks = 0;
        for (auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
            std::string name;
            std::getline(std::ifstream(entry.path() / "comm"), name);
            tasks += name.empty();
        }
        return pool.threadCount() == 0 && tasks == 0;
    };
    ASSERT_TRUE(testing::waitUntil(noWorkers));
    std::latch ran(1);
    Queue::global()->async([&] { ran.count_down(); });
    ran.wait();
    EXPECT_TRUE(testing::waitUntil(noWorkers));
    pool.setIdleTimeout(std::chrono::seconds(5));
}

}  // namespace
}  // namespace dispatch
