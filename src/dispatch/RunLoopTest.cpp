#include "dispatch/RunLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "dispatch/SerialQueue.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;

// Watching descriptors is driven by the channel's tests (its main-loop side) and by the desktop backends'.
TEST(RunLoopTest, DrainsMainQueueInOrderOnTheRunningThreadUntilStopped) {
    auto& loop = RunLoop::main();
    auto mainQueue = Queue::main();
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
    std::thread([&] { mainQueue->async([&] { loop.stop(); }); }).join();
    loop.run();
    EXPECT_FALSE(loop.isRunning());
    ASSERT_EQ(order.size(), 100u);
    EXPECT_EQ(order.back(), 99);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
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
