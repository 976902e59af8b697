#include "dispatch/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch/WorkItem.h"
#include "dispatch/testing/WaitUntil.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, KeepsOrderAndMutualExclusionUnderManyProducers) {
    auto queue = SerialQueue::create("test.order");
    constexpr int kProducers = 6;
    constexpr int kItems = 3000;
    std::atomic<int> inside{0};
    bool overlapped = false;                // written only on the queue
    std::vector<int> last(kProducers, -1);  // written only on the queue
    bool outOfOrder = false;
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
// when it comes from another queue, whose writes it then sees.
TEST(SerialQueueTest, SyncRunsAfterEarlierItemsOnTheCallersThreadWhenIdle) {
    auto queue = SerialQueue::create("test.sync");
    const auto caller = std::this_thread::get_id();
    std::thread::id ranOn;
    Queue* currentInside = nullptr;
    queue->sync([&] {
        ranOn = std::this_thread::get_id();
        currentInside = Queue::current();
    });
    EXPECT_EQ(ranOn, caller);
    EXPECT_EQ(currentInside, queue.get());
    EXPECT_EQ(Queue::current(), nullptr);
    EXPECT_EQ(*Queue::currentLabel(), "");
    EXPECT_EQ(currentQos(), 0u);
    EXPECT_FALSE(queue->isCurrent());

    std::promise<void> gate;
    auto opened = gate.get_future().share();
    std::vector<int> order;  // written only on the queue
    queue->async([&] {
        opened.wait();
        order.push_back(1);
    });
    for (int i = 2; i <= 100; ++i) queue->async([&, i] { order.push_back(i); });
    std::atomic<bool> returned{false};
    auto source = SerialQueue::create("test.source");
    source->async([&] {
        queue->sync([&] { order.push_back(-static_cast<int>(order.size())); });
        returned = true;
    });
    std::this_thread::sleep_for(20ms);  // let the caller queue up behind the blocked item
    EXPECT_FALSE(returned);
    gate.set_value();
    source->sync([] {});
    queue->async([&] { order.push_back(0); });
    queue->sync([] {});
    ASSERT_EQ(order.size(), 102u);
    EXPECT_EQ(order[99], 100);
    EXPECT_EQ(order[100], -100) << "the sync item saw every earlier write";
    EXPECT_EQ(order[101], 0);
}

TEST(SerialQueueTest, NestedSyncSeesInnermostQueue) {
    auto a = SerialQueue::create("test.a", Qos::UserInitiated);
    auto b = SerialQueue::create("test.b", Qos::Utility);
    auto c = SerialQueue::create("test.c", Qos::Background);
    static const int key = 0;
    static const int other = 0;
    int va = 1, vb = 2;
    a->setSpecific(&key, &va);
    b->setSpecific(&key, &vb);
    a->setSpecific(&other, &va);
    EXPECT_EQ(a->getSpecific(&key), &va);

    struct Seen {
        Queue* current;
        void* specific;
        void* otherSpecific;  // a's value is not inherited
        std::string label;
        std::uint32_t qos;
        std::vector<bool> currents;
        bool operator==(const Seen&) const = default;
    };
    auto look = [&] {
        return Seen{Queue::current(),
                    Queue::currentSpecific(&key),
                    Queue::currentSpecific(&other),
                    *Queue::currentLabel(),
                    currentQos(),
                    {a->isCurrent(), b->isCurrent(), c->isCurrent()}};
    };
    std::vector<Seen> seen;
    std::promise<void> done;
    // Start from a worker thread of queue a, as the logging path does.
    a->async([&] {
        seen.push_back(look());
        b->sync([&] {
            seen.push_back(look());
            c->sync([&] { seen.push_back(look()); });
        });
        seen.push_back(look());
        done.set_value();
    });
    done.get_future().wait();
    const auto qos = [](Qos q) { return static_cast<std::uint32_t>(q); };
    const Seen inA{a.get(), &va, &va, "test.a", qos(Qos::UserInitiated), {true, false, false}};
    const std::vector<Seen> expected = {
        inA,
        {b.get(), &vb, nullptr, "test.b", qos(Qos::Utility), {true, true, false}},
        {c.get(), nullptr, nullptr, "test.c", qos(Qos::Background), {true, true, true}},
        inA,
    };
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(seen[i] == expected[i]) << seen[i].label << " qos " << seen[i].qos;
    }
    a->setSpecific(&key, nullptr);
    EXPECT_EQ(a->getSpecific(&key), nullptr);
}

TEST(SerialQueueTest, AsyncAfterRunsInDeadlineOrderAndNeverEarly) {
    auto queue = SerialQueue::create("test.after");
    std::vector<int> order;
    std::vector<std::chrono::steady_clock::duration> elapsed;
    std::latch done(4);
    // Start the event thread first, so that registering the items below takes far less than their spacing.
    std::promise<void> warm;
    queue->asyncAfter(1ns, [&] { warm.set_value(); });
    warm.get_future().wait();
    const auto start = std::chrono::steady_clock::now();
    auto record = [&](int n) {
        return [&, n] {
            order.push_back(n);
            elapsed.push_back(std::chrono::steady_clock::now() - start);
            done.count_down();
        };
    };
    queue->asyncAfter(0ms, record(0));
    queue->asyncAfter(60ms, record(60));
    queue->asyncAfter(20ms, record(20));
    queue->asyncAfter(40ms, record(40));
    done.wait();
    queue->sync([] {});
    EXPECT_EQ(order, (std::vector<int>{0, 20, 40, 60}));
    EXPECT_GE(elapsed[1], 20ms);
    EXPECT_GE(elapsed[2], 40ms);
    EXPECT_GE(elapsed[3], 60ms);
}

TEST(SerialQueueTest, WorkItemCancelledBeforeStartNeverRunsAfterStartCompletes) {
    auto queue = SerialQueue::create("test.items");
    std::promise<void> gate;
    auto opened = gate.get_future().share();
    queue->async([opened] { opened.wait(); });
    std::atomic<bool> cancelledRan{false};
    auto cancelled = WorkItem::create([&] { cancelledRan = true; });
    queue->async(cancelled);
    auto delayed = WorkItem::create([&] { cancelledRan = true; });
    queue->asyncAfter(5ms, delayed);
    cancelled->cancel();
    delayed->cancel();
    gate.set_value();

    std::promise<void> started, release;
    auto releaseFuture = release.get_future();
    std::atomic<bool> finished{false};
    auto running = WorkItem::create([&] {
        started.set_value();
        releaseFuture.wait();
        finished = true;
    });
    queue->async(running);
    started.get_future().wait();
    running->cancel();  // too late: it has started
    release.set_value();
    testing::settle(*queue, 10ms);  // past the delayed item's deadline
    EXPECT_TRUE(finished);
    EXPECT_TRUE(running->isCancelled());
    EXPECT_FALSE(cancelledRan);
}

}  // namespace
}  // namespace dispatch
