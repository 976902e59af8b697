#include "platform/sim/SimPlatform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dispatch/WorkItem.h"
#include "platform/testing/PasteboardContract.h"

namespace platform::sim {
namespace {

using namespace std::chrono_literals;

TEST(SimSchedulerTest, RunsDueItemsInOrderOnlyWhenAdvancedAndSkipsCancelled) {
    SimScheduler scheduler;
    std::vector<std::string> ran;
    scheduler.scheduleAfter(50ms, dispatch::WorkItem::create([&] { ran.push_back("b@50"); }));
    scheduler.scheduleAfter(20ms, dispatch::WorkItem::create([&] {
                                ran.push_back("a@20");
                                // Scheduled while advancing and due within the same advance: runs in this
                                // call, at its own time.
                                scheduler.scheduleAfter(10ms, dispatch::WorkItem::create([&] {
                                                            EXPECT_EQ(scheduler.now(), 30ms);
                                                            ran.push_back("c@30");
                                                        }));
                            }));
    auto cancelled = dispatch::WorkItem::create([&] { ran.push_back("cancelled"); });
    scheduler.scheduleAfter(40ms, cancelled);
    scheduler.scheduleAfter(50ms, dispatch::WorkItem::create([&] { ran.push_back("d@50"); }));
    cancelled->cancel();

    scheduler.advance(19ms);
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(scheduler.pendingCount(), 3u);
    scheduler.advance(31ms);
    EXPECT_EQ(ran, (std::vector<std::string>{"a@20", "c@30", "b@50", "d@50"}));
    EXPECT_EQ(scheduler.now(), 50ms);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
    EXPECT_EQ(scheduler.nextDueTime(), SimScheduler::Duration::max());
}

struct SimPasteboardBackend {
    Pasteboard& pasteboard() { return sim.generalPasteboard(); }
    std::string unavailableReason() const { return ""; }
    SimPlatform sim;
};
}  // namespace
}  // namespace platform::sim

namespace platform::testing {
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, PasteboardContractTest, platform::sim::SimPasteboardBackend);
}  // namespace platform::testing
