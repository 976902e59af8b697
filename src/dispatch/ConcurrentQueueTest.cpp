#include "dispatch/ConcurrentQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
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
    std::atomic<int> running{0}, finishedBefore{0}, finishedAfter{0};
    std::atomic<bool> barrierDone{false}, violation{false};
    constexpr int kItems = 20;
    for (int i = 0; i < kItems; ++i) {
        queue->async([&] {
            running.fetch_add(1);
            std::this_thread::sleep_for(1ms);
            finishedBefore.fetch_add(1);
            running.fetch_sub(1);
        });
    }
    queue->asyncBarrier([&] {
        if (running.load() != 0 || finishedBefore.load() != kItems) violation = true;
        std::this_thread::sleep_for(2ms);
        barrierDone = true;
    });
    // Later items, plain and synchronous, wait for the barrier.
    for (int i = 0; i < kItems; ++i) {
        queue->async([&] {
            if (!barrierDone.load()) violation = true;
            finishedAfter.fetch_add(1);
        });
    }
    bool seen = false;
    queue->sync([&] { seen = barrierDone.load(); });
    EXPECT_TRUE(seen);
    EXPECT_TRUE(testing::waitUntil([&] { return finishedAfter.load() == kItems; }));
    EXPECT_FALSE(violation);
}

TEST(ConcurrentQueueTest, GlobalQueuesHavePlatformLabels) {
    for (const auto& [qos, label] : {std::pair{Qos::Default, "com.apple.root.default-priority"},
                                     std::pair{Qos::UserInteractive, "com.apple.root.high-priority"},
                                     std::pair{Qos::Utility, "com.apple.root.low-priority"}})
        EXPECT_EQ(Queue::global(qos)->label(), label);
    EXPECT_EQ(Queue::global(), Queue::global(Qos::Default));
}

// A background process must not keep every thread it ever needed: idle workers end, and the threads really
// go.
TEST(ConcurrentQueueTest, IdleWorkerThreadsRetire) {
    auto& pool = internal::WorkerPool::instance();
    pool.setIdleTimeout(20ms);
    std::atomic<bool> ran{false};
    ConcurrentQueue::create("test.retire")->async([&] { ran = true; });
    const auto noWorkers = [&] {
        std::size_t unnamed = 0;  // worker threads are the process's unnamed threads
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
            std::string name;
            std::getline(std::ifstream(entry.path() / "comm"), name);
            unnamed += name.empty();
        }
        return ran && pool.threadCount() == 0 && unnamed == 0;
    };
    EXPECT_TRUE(testing::waitUntil(noWorkers));
    pool.setIdleTimeout(5s);
}

}  // namespace
}  // namespace dispatch
