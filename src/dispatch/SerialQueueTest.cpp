#include "dispatch/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <thread>
#include <tuple>
#include <vector>

#include "dispatch/WorkItem.h"
#include "dispatch/testing/WaitUntil.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, KeepsOrderAndMutualExclusionUnderManyProducers) {
    auto queue = SerialQueue::create("test.order");
    constexpr int kProducers = 6, kItems = 3000;
    std::atomic<int> inside{0};
    bool overlapped = false, outOfOrder = false;  // written only on the queue, as are these
    std::vector<int> last(kProducers, -1);
    int total = 0;

    auto item = [&](int producer, int seq) {
        if (inside.fetch_add(1) != 0) overlapped = true;
        if (last[producer] + 1 != seq) outOfOrder = true;
        last[producer] = seq;
        ++total;
        inside.fetch_sub(1);
    };
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kItems; ++i) {
                // Mix both kinds of submission: a sync item must also wait for the async ones before it.
                if (i % 7 == 0) {
                    queue->sync([&, p, i] { item(p, i); });
                } else {
                    queue->async([&, p, i] { item(p, i); });
                }
            }
        });
    }
    for (auto& t : producers) t.join();
    queue->sync([] {});
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(outOfOrder);
    EXPECT_EQ(total, kProducers * kItems);
}

// A sync call on an idle queue runs on the caller's thread; on a busy one, after the items before it, also
// when it comes from another queue, whose writes it then sees. Inside it the innermost queue is current, with
// its own label, QoS and specifics (values are not inherited), while the outer one still counts as current.
TEST(SerialQueueTest, SyncRunsAfterEarlierItemsAndSeesTheInnermostQueue) {
    auto outer = SerialQueue::create("test.outer", Qos::UserInitiated);
    auto inner = SerialQueue::create("test.inner", Qos::Utility);
    std::thread::id ranOn;
    inner->sync([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    static const int key = 0;
    int value = 1;
    outer->setSpecific(&key, &value);
    using Seen = std::tuple<Queue*, void*, std::string, std::uint32_t, bool, bool>;
    auto look = [&] {
        return Seen{Queue::current(), Queue::currentSpecific(&key), *Queue::currentLabel(),
                    currentQos(),     outer->isCurrent(),           inner->isCurrent()};
    };
    std::vector<Seen> seen{look()};  // written on `outer` after this
    std::promise<void> gate;
    std::vector<int> order;  // written only on `inner`
    inner->async([&, opened = gate.get_future().share()] {
        opened.wait();
        order.push_back(1);
    });
    for (int i = 2; i <= 100; ++i) inner->async([&, i] { order.push_back(i); });
    std::atomic<bool> returned{false};
    // From a worker thread of the outer queue, as the logging path does.
    outer->async([&] {
        seen.push_back(look());
        inner->sync([&] {
            order.push_back(-static_cast<int>(order.size()));
            seen.push_back(look());
        });
        seen.push_back(look());
        returned = true;
    });
    std::this_thread::sleep_for(20ms);  // let the caller queue up behind the blocked item
    EXPECT_FALSE(returned);
    gate.set_value();
    outer->sync([] {});
    ASSERT_EQ(order.size(), 101u);
    EXPECT_EQ(order[99], 100);
    EXPECT_EQ(order[100], -100) << "the sync item saw every earlier write";
    const auto qos = [](Qos q) { return static_cast<std::uint32_t>(q); };
    const Seen inOuter{outer.get(), &value, "test.outer", qos(Qos::UserInitiated), true, false};
    EXPECT_EQ(seen, (std::vector<Seen>{{nullptr, nullptr, "", 0, false, false},
                                       inOuter,
                                       {inner.get(), nullptr, "test.inner", qos(Qos::Utility), true, true},
                                       inOuter}));
}

TEST(SerialQueueTest, AsyncAfterRunsInDeadlineOrderNeverEarlyAndNotWhenCancelled) {
    auto queue = SerialQueue::create("test.after");
    std::vector<std::pair<int, std::chrono::steady_clock::duration>> ran;  // written only on the queue
    std::latch done(4);
    // Start the event thread first, so that registering the items below takes far less than their spacing.
    std::promise<void> warm;
    queue->asyncAfter(1ns, [&] { warm.set_value(); });
    warm.get_future().wait();
    const auto start = std::chrono::steady_clock::now();
    for (const int ms : {0, 60, 20, 40}) {
        queue->asyncAfter(std::chrono::milliseconds(ms), [&, ms] {
            ran.emplace_back(ms, std::chrono::steady_clock::now() - start);
            done.count_down();
        });
    }
    // Cancelled before its time: never runs.
    auto cancelled = WorkItem::create([&] { ran.emplace_back(-1, 0ns); });
    queue->asyncAfter(10ms, cancelled);
    cancelled->cancel();
    done.wait();
    queue->sync([] {});
    ASSERT_EQ(ran.size(), 4u);
    for (std::size_t i = 0; i < ran.size(); ++i) {
        EXPECT_EQ(ran[i].first, 20 * static_cast<int>(i));
        EXPECT_GE(ran[i].second, std::chrono::milliseconds(ran[i].first));
    }
}

}  // namespace
}  // namespace dispatch
