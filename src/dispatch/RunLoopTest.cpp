#include "dispatch/RunLoop.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

#include "dispatch/SerialQueue.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;

// Watching descriptors is driven by the channel's tests (its main-loop side) and by the desktop backends'.
TEST(RunLoopTest, DrainsMainQueueOnTheRunningThreadUntilStopped) {
    auto& loop = RunLoop::main();
    auto mainQueue = Queue::main();
    EXPECT_EQ(mainQueue->label(), "com.apple.main-thread");

    const auto self = std::this_thread::get_id();
    std::vector<int> order;  // main thread only
    bool allOnMain = true;
    // Queued before the loop runs: they wait for it.
    for (int i = 0; i < 100; ++i) {
        mainQueue->async([&, i] {
            order.push_back(i);
            allOnMain = allOnMain && std::this_thread::get_id() == self && mainQueue->isCurrent() &&
                        *Queue::currentLabel() == "com.apple.main-thread";
        });
    }
    // A synchronous call from another thread runs on the main thread, after the items before it.
    std::thread other([&] {
        std::size_t seenSize = 0;
        mainQueue->sync([&] {
            seenSize = order.size();
            allOnMain = allOnMain && std::this_thread::get_id() == self;
        });
        EXPECT_EQ(seenSize, 100u);
        mainQueue->async([&] { loop.stop(); });
    });
    loop.run();
    other.join();
    EXPECT_FALSE(loop.isRunning());
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_TRUE(allOnMain);

    // A stop made while the loop is not running makes the next run return at once.
    loop.stop();
    bool ran = false;
    mainQueue->async([&] { ran = true; });
    loop.run();
    EXPECT_FALSE(ran);
    loop.runFor(20ms);
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace dispatch
