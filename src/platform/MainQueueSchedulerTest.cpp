#include "platform/MainQueueScheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dispatch/RunLoop.h"
#include "dispatch/SerialQueue.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

TEST(MainQueueSchedulerTest, RunsItemsOnTheMainQueueWhenDueUnlessCancelled) {
    MainQueueScheduler scheduler;
    std::vector<std::string> ran;
    bool onMainQueue = true;
    const auto record = [&](std::string name) {
        return dispatch::WorkItem::create([&, name] {
            ran.push_back(name);
            onMainQueue = onMainQueue && dispatch::Queue::main()->isCurrent();
        });
    };
    scheduler.scheduleAfter(30ms, record("late"));
    scheduler.scheduleAfter(5ms, record("early"));
    auto cancelled = record("cancelled");
    scheduler.scheduleAfter(10ms, cancelled);
    cancelled->cancel();
    scheduler.scheduleAfter(40ms, dispatch::WorkItem::create([] { dispatch::RunLoop::main().stop(); }));

    EXPECT_TRUE(ran.empty()) << "nothing runs before the main run loop does";
    dispatch::RunLoop::main().runFor(5s);
    EXPECT_EQ(ran, (std::vector<std::string>{"early", "late"}));
    EXPECT_TRUE(onMainQueue);
}

}  // namespace
}  // namespace platform
