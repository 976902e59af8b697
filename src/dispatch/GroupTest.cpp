#include "dispatch/Group.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "dispatch/ConcurrentQueue.h"
#include "dispatch/SerialQueue.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;

TEST(GroupTest, WaitCoversMembersOnSeveralQueuesAndNotifyRunsAfterThem) {
    auto first = SerialQueue::create("test.g1");
    auto second = SerialQueue::create("test.g2");
    std::atomic<int> finished{0};
    // Repeated: a wait that returns before the last member ends shows up only now and then.
    for (int round = 0; round < 50; ++round) {
        Group group;
        finished = 0;
        for (int i = 0; i < 5; ++i) {
            group.async(*first, [&] { finished.fetch_add(1); });
            group.async(*second, [&] { finished.fetch_add(1); });
        }
        group.async(*Queue::global(), [&] { finished.fetch_add(1); });
        group.wait();
        ASSERT_EQ(finished.load(), 11);
    }

    // An entered group waits for its leave too; notify runs once everything has ended, and at once when
    // the group is empty.
    Group group;
    std::promise<void> gate;
    group.enter();
    group.async(*first, [opened = gate.get_future().share(), &finished] {
        opened.wait();
        finished.fetch_add(1);
    });
    std::promise<int> notified;
    group.notify(second, [&] { notified.set_value(finished.load()); });
    EXPECT_FALSE(group.waitFor(5ms));
    gate.set_value();
    group.leave();
    EXPECT_TRUE(group.waitFor(10s));
    EXPECT_EQ(notified.get_future().get(), 12);
    std::promise<void> again;
    group.notify(second, [&] { again.set_value(); });
    again.get_future().wait();
}

}  // namespace
}  // namespace dispatch
