#include "platform/sim/SimPlatform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dispatch/WorkItem.h"
#include "platform/KeyboardEventSource.h"
#include "platform/testing/PasteboardContract.h"

namespace platform::sim {
namespace {

using namespace std::chrono_literals;

PasteboardItem textItem(const std::string& text) {
    PasteboardItem item;
    item.setStringForType(text, kPasteboardTypeString);
    return item;
}

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

TEST(SimPasteboardTest, ChangeCountMovesOnTakeOverOnly) {
    SimPasteboard pasteboard;
    EXPECT_EQ(pasteboard.changeCount(), 0);
    EXPECT_EQ(pasteboard.clearContents(), 1);
    EXPECT_TRUE(pasteboard.writeObjects({textItem("a"), textItem("b")}));
    EXPECT_EQ(pasteboard.changeCount(), 1);
    EXPECT_EQ(pasteboard.itemCount(), 2u);
    EXPECT_EQ(pasteboard.stringForType(1, kPasteboardTypeString), "b");

    EXPECT_EQ(pasteboard.declareTypes({std::string(kPasteboardTypeString)}), 2);
    EXPECT_EQ(pasteboard.itemCount(), 1u);
    EXPECT_FALSE(pasteboard.dataForType(0, kPasteboardTypeString).has_value());  // declared, no data yet
    EXPECT_FALSE(pasteboard.setString("x", "public.rtf"));
    EXPECT_TRUE(pasteboard.setString("x", kPasteboardTypeString));
    EXPECT_EQ(pasteboard.changeCount(), 2);
    EXPECT_EQ(pasteboard.firstString(), "x");

    pasteboard.setUnreadableType(std::string(kPasteboardTypeString));
    EXPECT_EQ(pasteboard.typesOfItem(0), std::vector<std::string>{std::string(kPasteboardTypeString)});
    EXPECT_FALSE(pasteboard.dataForType(0, kPasteboardTypeString).has_value());
    EXPECT_TRUE(pasteboard.typesOfItem(5).empty());
}

TEST(SimEventTapsTest, DeliversOnlyToActiveTapsWhoseMaskSelectsTheType) {
    SimPlatform sim;
    std::vector<EventType> seen;
    auto tap = sim.eventTaps().createEventTap(
        EventTapLocation::SessionEventTap, EventTapPlacement::HeadInsert, EventTapOptions::Default,
        maskBit(EventType::LeftMouseDown) | maskBit(EventType::LeftMouseUp),
        [&](EventType type, const InputEvent&) { seen.push_back(type); });
    ASSERT_TRUE(tap);
    sim.multiClick(1);
    EXPECT_TRUE(seen.empty()) << "not on the run loop yet";

    tap->addSourceToMainRunLoop();
    sim.mouseDown();
    sim.mouseDragged();
    sim.rightMouseDown();
    sim.mouseUp();
    EXPECT_EQ(seen, (std::vector<EventType>{EventType::LeftMouseDown, EventType::LeftMouseUp}));

    seen.clear();
    sim.taps().disableAll();
    EXPECT_EQ(seen, std::vector<EventType>{EventType::TapDisabledByTimeout});
    EXPECT_FALSE(tap->isEnabled());
    sim.mouseDown();
    EXPECT_EQ(seen.size(), 1u);
    tap->setEnabled(true);
    sim.mouseDown();
    EXPECT_EQ(seen.size(), 2u);

    EXPECT_EQ(sim.taps().installedCount(), 1u);
    tap.reset();
    EXPECT_EQ(sim.taps().installedCount(), 0u);

    sim.taps().setRefuseCreation(true);
    EXPECT_FALSE(sim.eventTaps().createEventTap(EventTapLocation::SessionEventTap,
                                                EventTapPlacement::HeadInsert, EventTapOptions::Default, 0x66,
                                                [](EventType, const InputEvent&) {}));
}

TEST(SimEventTapsTest, CallbackMayDestroyItsOwnTap) {
    SimPlatform sim;
    std::unique_ptr<EventTap> tap;
    int calls = 0;
    tap = sim.eventTaps().createEventTap(EventTapLocation::SessionEventTap, EventTapPlacement::HeadInsert,
                                         EventTapOptions::Default, 0x66, [&](EventType, const InputEvent&) {
                                             ++calls;
                                             tap.reset();
                                         });
    tap->addSourceToMainRunLoop();
    sim.mouseDown();
    sim.mouseDown();
    EXPECT_EQ(calls, 1);
}

TEST(SimApplicationTest, AnswersFocusedElementAndReactsToChords) {
    SimPlatform sim;
    auto app = sim.addApplication(42, "Editor");
    auto field = sim.makeElement("field");
    field->setAttribute(kAXSelectedTextAttribute, std::string("hi"));
    app->setFocusedElement(field);
    sim.setFrontmost(app);

    auto running = sim.workspace().frontmostApplication();
    ASSERT_TRUE(running);
    EXPECT_EQ(running->processIdentifier, 42);
    auto element = sim.accessibility().createApplication(*running);
    AXValue focused;
    ASSERT_EQ(element->copyAttributeValue(kAXFocusedUIElementAttribute, focused), AXError::Success);
    auto focusedElement = std::get<std::shared_ptr<AXUIElement>>(focused);
    AXValue text;
    EXPECT_EQ(focusedElement->copyAttributeValue(kAXSelectedTextAttribute, text), AXError::Success);
    EXPECT_EQ(std::get<std::string>(text), "hi");
    AXValue untouched = std::string("keep");
    EXPECT_EQ(focusedElement->copyAttributeValue(kAXSelectedTextMarkerRangeAttribute, untouched),
              AXError::AttributeUnsupported);
    EXPECT_EQ(std::get<std::string>(untouched), "keep");
    EXPECT_EQ(sim.accessibilityReads(),
              (SimElement::ReadLog{"AXFocusedUIElement", "AXSelectedText", "AXSelectedTextMarkerRange"}));

    // Late copy: nothing on the pasteboard until the clock passes the delay.
    app->setSelection("copied");
    app->setCopyReaction(SimApplication::CopyReaction::Late, 80ms);
    KeyboardEventSource source(EventSourceStateID::CombinedSessionState);
    auto down = source.createKeyboardEvent(kVK_ANSI_C, true);
    down.flags = kEventFlagMaskCommand;
    auto up = source.createKeyboardEvent(kVK_ANSI_C, false);
    up.flags = kEventFlagMaskCommand;
    sim.keyboard().postEvent(EventTapLocation::HIDEventTap, down);
    sim.keyboard().postEvent(EventTapLocation::HIDEventTap, up);
    EXPECT_EQ(app->copyKeyStrokes(), 1);
    EXPECT_EQ(sim.pasteboard().changeCount(), 0);
    sim.scheduler().advance(79ms);
    EXPECT_EQ(sim.pasteboard().changeCount(), 0);
    sim.scheduler().advance(1ms);
    EXPECT_EQ(sim.pasteboard().firstString(), "copied");

    // Without Command the key is just a key.
    auto plainV = source.createKeyboardEvent(kVK_ANSI_V, true);
    sim.keyboard().postEvent(EventTapLocation::HIDEventTap, plainV);
    EXPECT_TRUE(app->pastes().empty());
    plainV.flags = kEventFlagMaskCommand;
    sim.keyboard().postEvent(EventTapLocation::HIDEventTap, plainV);
    EXPECT_EQ(app->pastes(), (std::vector<std::optional<std::string>>{"copied"}));
    EXPECT_EQ(sim.postedKeyEvents().size(), 4u);

    // A vanished application's element fails every read.
    sim.removeApplication(app);
    EXPECT_FALSE(sim.workspace().frontmostApplication());
    EXPECT_EQ(element->copyAttributeValue(kAXFocusedUIElementAttribute, focused), AXError::InvalidUIElement);
    EXPECT_EQ(sim.accessibility().createApplication(*running)->copyAttributeValue(
                  kAXFocusedUIElementAttribute, focused),
              AXError::InvalidUIElement);
}

TEST(SimPlatformTest, DelayedWorkCanGoToAnotherScheduler) {
    struct Recording : Scheduler {
        void scheduleAfter(std::chrono::nanoseconds, std::shared_ptr<dispatch::WorkItem> item) override {
            items.push_back(std::move(item));
        }
        std::vector<std::shared_ptr<dispatch::WorkItem>> items;
    } recording;
    SimPlatform sim;
    sim.setMainScheduler(&recording);
    EXPECT_EQ(&sim.mainScheduler(), &recording);
    auto app = sim.addApplication(1, "Late");
    app->setSelection("late");
    app->setCopyReaction(SimApplication::CopyReaction::Late);
    sim.setFrontmost(app);
    KeyboardEvent copy{kVK_ANSI_C, true, kEventFlagMaskCommand};
    sim.keyboard().postEvent(EventTapLocation::HIDEventTap, copy);
    ASSERT_EQ(recording.items.size(), 1u);
    EXPECT_EQ(sim.scheduler().pendingCount(), 0u);
    recording.items[0]->perform();
    EXPECT_EQ(sim.pasteboard().firstString(), "late");
    sim.setMainScheduler(nullptr);
    EXPECT_EQ(&sim.mainScheduler(), &sim.scheduler());
}

TEST(SimCursorImagesTest, StandardCursorsDifferAndTheCustomIBeamByOneByte) {
    const auto ibeam = SimCursorImages::iBeam();
    EXPECT_NE(ibeam.pixels, SimCursorImages::arrow().pixels);
    EXPECT_NE(ibeam.pixels, SimCursorImages::pointingHand().pixels);
    EXPECT_NE(ibeam.pixels, SimCursorImages::resizeLeftRight().pixels);
    const auto custom = SimCursorImages::customIBeam();
    ASSERT_EQ(custom.pixels.size(), ibeam.pixels.size());
    int differing = 0;
    for (std::size_t i = 0; i < ibeam.pixels.size(); ++i) differing += ibeam.pixels[i] != custom.pixels[i];
    EXPECT_EQ(differing, 1);
    EXPECT_TRUE(SimCursorImages::withoutBitmap().pixels.empty());
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
