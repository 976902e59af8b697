#include "dispatch/Group.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "dispatch/ConcurrentQueue.h"
#include "dispatch/SerialQueue.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;

TEST(GroupTest, WaitCoversMembersOnSeveralQueues) {
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
        group.async(*Queue::global(), [&] {
            std::this_thread::sleep_for(1ms);
            finished.fetch_add(1);
        });
        group.wait();
        ASSERT_EQ(finished.load(), 11);
    }
}

}  // namespace
}  // namespace dispatch
