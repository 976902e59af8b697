#include "helper/EventMonitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "helper/logging.h"
#include "logging/DDLog.h"
#include "logging/testing/DDTestLogger.h"
#include "platform/sim/SimPlatform.h"

namespace {

using namespace std::chrono_literals;
using platform::AXError;
using platform::PasteboardItem;
using platform::sim::SimApplication;
using platform::sim::SimCursorImages;
using platform::sim::SimElement;

PasteboardItem textItem(const std::string& text) {
    PasteboardItem item;
    item.setStringForType(text, platform::kPasteboardTypeString);
    return item;
}

class EventMonitorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        logger_ = DDTestLogger::create();
        DDLog::sharedInstance().addLogger(logger_);
        cursorHelper_.setup();
        monitor_.setTextSelectedHandler([this] { ++announcements_; });
        app_ = sim_.addApplication(100, "Editor");
        field_ = sim_.makeElement("field");
        app_->setFocusedElement(field_);
        sim_.setFrontmost(app_);
        sim_.setTrusted(true);
    }
    void TearDown() override {
        DDLog::sharedInstance().removeAllLoggers();
        DDLog::sharedInstance().flushLog();
    }

    void select(const std::string& text) { field_->setAttribute(platform::kAXSelectedTextAttribute, text); }
    void showIBeam() { sim_.setCursor(SimCursorImages::iBeam()); }
    void showArrow() { sim_.setCursor(SimCursorImages::arrow()); }
    void dragOverText() {
        sim_.mouseDown();
        sim_.mouseDragged();
        sim_.mouseDragged();
        sim_.mouseUp();
    }
    std::vector<std::string> logLines() {
        DDLog::sharedInstance().flushLog();
        return logger_->texts();
    }
    std::size_t countReads(const std::string& attribute) {
        const auto& reads = sim_.accessibilityReads();
        return static_cast<std::size_t>(std::count(reads.begin(), reads.end(), attribute));
    }
    // Reads through `getSelectedText` and returns what the completion got (nullopt while it has not run).
    std::shared_ptr<std::optional<std::string>> read() {
        auto result = std::make_shared<std::optional<std::string>>();
        monitor_.getSelectedText([result](const std::string& text) {
            ASSERT_FALSE(result->has_value()) << "completion called twice";
            *result = text;
        });
        return result;
    }

    platform::sim::SimPlatform sim_;
    CursorHelper cursorHelper_{sim_.cursors()};
    PasteboardHelper pasteboardHelper_{sim_.generalPasteboard(), sim_.keyboard()};
    EventMonitor monitor_{sim_, cursorHelper_, pasteboardHelper_};
    std::shared_ptr<DDTestLogger> logger_;
    std::shared_ptr<SimApplication> app_;
    std::shared_ptr<SimElement> field_;
    int announcements_ = 0;
};

TEST_F(EventMonitorTest, StartInstallsOneTapForTheLeftButtonAndMovesAndLogsIt) {
    monitor_.start();
    ASSERT_TRUE(monitor_.isTapInstalled());
    const auto taps = sim_.taps().taps();
    ASSERT_EQ(taps.size(), 1u);
    EXPECT_EQ(taps[0].mask, 0x66u);
    EXPECT_EQ(taps[0].location, platform::EventTapLocation::SessionEventTap);
    EXPECT_EQ(taps[0].placement, platform::EventTapPlacement::HeadInsert);
    EXPECT_EQ(taps[0].options, platform::EventTapOptions::Default);
    EXPECT_TRUE(taps[0].onRunLoop && taps[0].enabled);
    EXPECT_EQ(logLines(),
              std::vector<std::string>{"[INFO] Add Global CG monitor: <SimEventTap #1 mask 0x66 enabled>"});

    sim_.mouseMoved();
    EXPECT_EQ(monitor_.latestType(), 5u);
    sim_.rightMouseDown();
    EXPECT_EQ(monitor_.latestType(), 5u) << "right button not observed";

    monitor_.stop();
    EXPECT_FALSE(monitor_.isTapInstalled());
    EXPECT_EQ(sim_.taps().installedCount(), 0u);
    monitor_.stop();  // harmless without a tap
    showIBeam();
    select("after stop");
    dragOverText();
    EXPECT_EQ(announcements_, 0);
}

TEST_F(EventMonitorTest, SecondStartReplacesTheTapAndReArmsADisabledOne) {
    monitor_.start();
    monitor_.start();
    EXPECT_EQ(sim_.taps().createdCount(), 2u);
    EXPECT_EQ(sim_.taps().installedCount(), 1u) << "the first tap must not linger";
    showIBeam();
    select("word");
    dragOverText();
    EXPECT_EQ(announcements_, 1) << "each gesture evaluated once";

    sim_.taps().disableAll();
    EXPECT_EQ(monitor_.latestType(), 0xFFFFFFFEu);
    dragOverText();
    EXPECT_EQ(announcements_, 1) << "a disabled tap stays disabled";
    monitor_.start();
    EXPECT_EQ(sim_.taps().activeCount(), 1u);
    dragOverText();
    EXPECT_EQ(announcements_, 2);
    monitor_.stop();
    EXPECT_EQ(sim_.taps().installedCount(), 0u);
}

TEST_F(EventMonitorTest, RefusedTapLeavesNothingInstalledAndALaterStartRetries) {
    sim_.taps().setRefuseCreation(true);
    monitor_.start();
    EXPECT_FALSE(monitor_.isTapInstalled());
    EXPECT_TRUE(logLines().empty());
    sim_.taps().setRefuseCreation(false);
    monitor_.start();
    EXPECT_TRUE(monitor_.isTapInstalled());
}

TEST_F(EventMonitorTest, DragOverTextReadsAtOnceBeforeTheMouseUpReturns) {
    monitor_.start();
    select("hello");
    showIBeam();
    sim_.mouseDown(platform::kEventFlagMaskShift);
    ASSERT_NE(monitor_.event(), nullptr);
    EXPECT_TRUE(monitor_.event()->isBeamCursor());
    EXPECT_TRUE(monitor_.event()->isShiftDown());
    sim_.mouseDragged();
    EXPECT_TRUE(monitor_.event()->isDragged());
    EXPECT_EQ(countReads("AXSelectedText"), 0u) << "nothing read before the mouse-up";
    sim_.mouseUp();
    EXPECT_EQ(announcements_, 1);
    EXPECT_TRUE(monitor_.event()->isFinished());
    EXPECT_FALSE(monitor_.event()->isMultipleClick());
    EXPECT_EQ(sim_.scheduler().pendingCount(), 0u);
    EXPECT_TRUE(sim_.postedKeyEvents().empty());
    const auto lines = logLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[INFO] Get selected text by accissibility: hello"),
              lines.end());

    // The same text again is announced again.
    dragOverText();
    EXPECT_EQ(announcements_, 2);
}

TEST_F(EventMonitorTest, DragCountsAsOverTextWhenTheIBeamShowsAtAnyPointOfIt) {
    monitor_.start();
    select("passing");
    showArrow();
    sim_.mouseDown();
    sim_.mouseDragged();
    showIBeam();
    sim_.mouseDragged();
    showArrow();
    sim_.mouseDragged();
    sim_.mouseUp();
    EXPECT_EQ(announcements_, 1);

    // Never an I-beam: nothing is read at all.
    sim_.clearAccessibilityReads();
    dragOverText();
    EXPECT_EQ(announcements_, 1);
    EXPECT_TRUE(sim_.accessibilityReads().empty());
    EXPECT_TRUE(sim_.postedKeyEvents().empty());
}

TEST_F(EventMonitorTest, SingleClickAndShiftClickReadNothing) {
    monitor_.start();
    select("word");
    showIBeam();
    sim_.multiClick(1);
    sim_.mouseDown(platform::kEventFlagMaskShift);
    sim_.mouseUp();
    EXPECT_TRUE(monitor_.event()->isShiftDown());
    sim_.scheduler().runAll();
    EXPECT_EQ(announcements_, 0);
    EXPECT_TRUE(sim_.accessibilityReads().empty());
}

TEST_F(EventMonitorTest, DoubleClickReadsOnce200MillisecondsAfterTheSecondRelease) {
    monitor_.start();
    select("word");
    showIBeam();
    sim_.mouseDown(0, 1);
    sim_.mouseUp(1);
    EXPECT_EQ(sim_.scheduler().pendingCount(), 0u) << "the first click does nothing";
    sim_.mouseDown(0, 2);
    sim_.mouseUp(2);
    EXPECT_TRUE(monitor_.event()->isMultipleClick());
    sim_.scheduler().advance(199ms);
    EXPECT_EQ(announcements_, 0);
    EXPECT_TRUE(sim_.accessibilityReads().empty());
    sim_.scheduler().advance(1ms);
    EXPECT_EQ(announcements_, 1);
    sim_.scheduler().runAll();
    EXPECT_EQ(announcements_, 1);
}

TEST_F(EventMonitorTest, TripleClickCancelsTheDoubleClicksPendingRead) {
    monitor_.start();
    select("a whole line");
    showIBeam();
    sim_.multiClick(2);
    sim_.scheduler().advance(150ms);
    sim_.mouseDown(0, 3);
    sim_.mouseUp(3);
    sim_.scheduler().advance(199ms);
    EXPECT_EQ(countReads("AXFocusedUIElement"), 0u);
    sim_.scheduler().advance(1ms);
    EXPECT_EQ(countReads("AXFocusedUIElement"), 1u);
    EXPECT_EQ(announcements_, 1);
    sim_.scheduler().runAll();
    EXPECT_EQ(announcements_, 1);
}

TEST_F(EventMonitorTest, DoubleClickWithDragTakesTheDelayedPathAndADragDoesNotCancelIt) {
    monitor_.start();
    select("word");
    showIBeam();
    sim_.multiClick(1);
    sim_.mouseDown(0, 2);
    sim_.mouseDragged();
    sim_.mouseUp(2);
    EXPECT_EQ(announcements_, 0);
    EXPECT_EQ(sim_.scheduler().pendingCount(), 1u);

    dragOverText();  // announced at once; the pending read stays
    EXPECT_EQ(announcements_, 1);
    monitor_.stop();  // nor does stopping cancel it
    sim_.scheduler().advance(200ms);
    EXPECT_EQ(announcements_, 2);
}

TEST_F(EventMonitorTest, GestureEventsWithoutAMouseDownAreIgnored) {
    monitor_.start();
    select("word");
    showIBeam();
    sim_.mouseDragged();
    sim_.mouseUp(2);
    EXPECT_EQ(monitor_.event(), nullptr);
    EXPECT_EQ(monitor_.latestType(), 2u);
    sim_.scheduler().runAll();
    EXPECT_EQ(announcements_, 0);
}

TEST_F(EventMonitorTest, BlankSelectionsAreNotAnnounced) {
    monitor_.start();
    showIBeam();
    for (const char* blank : {"", " ", "\n\t \r\n", "\u00A0\u2028\u3000\u0085"}) {
        select(blank);
        dragOverText();
    }
    EXPECT_EQ(announcements_, 0);
    select("  x\n");
    dragOverText();
    EXPECT_EQ(announcements_, 1);
    EXPECT_TRUE(sim_.postedKeyEvents().empty()) << "an empty direct answer is final";
}

TEST_F(EventMonitorTest, DirectQueryFallsBackToTheMarkerRangeInOrder) {
    // Selected text offered: one read past the focused element.
    select("direct");
    EXPECT_EQ(monitor_.getSelectedTextByAX(), "direct");
    EXPECT_EQ(sim_.accessibilityReads(), (SimElement::ReadLog{"AXFocusedUIElement", "AXSelectedText"}));

    // Not offered: the string for the selected marker range, asked with that range.
    sim_.clearAccessibilityReads();
    field_->setAttributeError(platform::kAXSelectedTextAttribute, AXError::AttributeUnsupported);
    field_->setAttribute(platform::kAXSelectedTextMarkerRangeAttribute, platform::AXTextMarkerRange{3, 9});
    field_->setParameterizedAttribute(platform::kAXStringForTextMarkerRangeParameterizedAttribute,
                                      std::string("by range"));
    EXPECT_EQ(monitor_.getSelectedTextByAX(), "by range");
    EXPECT_EQ(sim_.accessibilityReads(),
              (SimElement::ReadLog{"AXFocusedUIElement", "AXSelectedText", "AXSelectedTextMarkerRange",
                                   "AXStringForTextMarkerRange(range 3-9)"}));

    // A text answer that is not a text counts as no answer.
    field_->setAttribute(platform::kAXSelectedTextAttribute, platform::AXTextMarkerRange{1, 2});
    EXPECT_EQ(monitor_.getSelectedTextByAX(), "by range");

    // The last call's error decides.
    field_->setParameterizedAttributeError(platform::kAXStringForTextMarkerRangeParameterizedAttribute,
                                           AXError::CannotComplete);
    EXPECT_EQ(monitor_.getSelectedTextByAX(), std::nullopt);
    field_->setAttributeError(platform::kAXSelectedTextMarkerRangeAttribute, AXError::NoValue);
    EXPECT_EQ(monitor_.getSelectedTextByAX(), std::nullopt);

    // Nothing focused, or a failing application, or none at all.
    select("unreachable");
    app_->setFocusedElementError(AXError::APIDisabled);
    EXPECT_EQ(monitor_.getSelectedTextByAX(), std::nullopt);
    app_->setFocusedElement(nullptr);
    EXPECT_EQ(monitor_.getSelectedTextByAX(), std::nullopt);
    sim_.setFrontmost(nullptr);
    sim_.clearAccessibilityReads();
    EXPECT_EQ(monitor_.getSelectedTextByAX(), std::nullopt);
    EXPECT_TRUE(sim_.accessibilityReads().empty());
}

TEST_F(EventMonitorTest, DirectAnswerCompletesBeforeReturningEvenWhenEmpty) {
    select("");
    auto result = read();
    ASSERT_TRUE(result->has_value());
    EXPECT_EQ(**result, "");
    EXPECT_TRUE(sim_.postedKeyEvents().empty());
    EXPECT_EQ(sim_.pasteboard().changeCount(), 0);
    const auto lines = logLines();
    EXPECT_EQ(lines, std::vector<std::string>{"[INFO] Get selected text by accissibility: "});
}

TEST_F(EventMonitorTest, CopyPathReadsTheCopiedTextThenRestoresThePasteboard) {
    const std::vector<PasteboardItem> users = {textItem("user's text"), textItem("second item")};
    sim_.pasteboard().copyFromOtherApplication(users);
    app_->setFocusedElement(nullptr);
    app_->setSelection("copied selection");
    app_->setCopyReaction(SimApplication::CopyReaction::Immediately);

    std::optional<std::string> pasteboardAtCompletion;
    std::optional<std::string> result;
    monitor_.getSelectedText([&](const std::string& text) {
        result = text;
        pasteboardAtCompletion = sim_.pasteboard().firstString();
    });
    EXPECT_FALSE(result);
    ASSERT_EQ(sim_.postedKeyEvents().size(), 2u);
    EXPECT_EQ(sim_.postedKeyEvents()[0].event.keyCode, platform::kVK_ANSI_C);
    // Read as soon as the copy shows, not after a fixed wait.
    sim_.scheduler().advance(0ms);
    EXPECT_EQ(result, "copied selection");
    EXPECT_EQ(pasteboardAtCompletion, "copied selection") << "completion runs before the restore";
    EXPECT_EQ(sim_.pasteboard().snapshot(), users);
    const auto lines = logLines();
    EXPECT_EQ(lines, std::vector<std::string>{"[INFO] Get selected text by simulator: copied selection"});
}

TEST_F(EventMonitorTest, CopyPathWithoutAnyCopyLeavesThePasteboardAlone) {
    sim_.pasteboard().copyFromOtherApplication({textItem("user's text")});
    const auto changeCount = sim_.pasteboard().changeCount();
    app_->setFocusedElement(nullptr);
    app_->setCopyReaction(SimApplication::CopyReaction::Never);

    auto result = read();
    sim_.scheduler().advance(50ms);
    EXPECT_EQ(*result, "");
    EXPECT_EQ(sim_.pasteboard().changeCount(), changeCount);
    EXPECT_EQ(sim_.pasteboard().firstString(), "user's text");
    EXPECT_TRUE(logLines().empty());

    // An application that copies only after the wait: the read has already answered empty, and the late copy
    // is put back away while it comes within the grace period and before the user presses anything.
    app_->setSelection("too late");
    struct Case {
        std::chrono::milliseconds lateBy;
        bool userPressesFirst;
        bool restored;
        bool insertsFirst = false;
    };
    sim_.scheduler().advance(1s);  // the grace period of the read above ends
    // The grace period runs for a second from the 50 ms verdict.
    for (const Case& c : {Case{80ms, false, true}, Case{1040ms, false, true}, Case{80ms, true, false},
                          Case{1060ms, false, false}, Case{80ms, false, false, true}}) {
        SCOPED_TRACE(std::to_string(c.lateBy.count()) + " ms late" +
                     (c.userPressesFirst ? ", user pressed" : ""));
        sim_.pasteboard().copyFromOtherApplication({textItem("user's text")});
        app_->setCopyReaction(SimApplication::CopyReaction::Late, c.lateBy);
        result = read();
        sim_.scheduler().advance(50ms);
        EXPECT_EQ(*result, "");
        EXPECT_EQ(sim_.pasteboard().firstString(), "user's text");
        if (c.userPressesFirst) sim_.pasteboard().userInput();
        if (c.insertsFirst) pasteboardHelper_.copyTextToPasteboard("inserted");
        sim_.scheduler().advance(c.lateBy - 50ms);
        sim_.scheduler().advance(0ms);
        EXPECT_EQ(sim_.pasteboard().firstString(), c.restored ? "user's text" : "too late");
        sim_.scheduler().runAll();
    }
}

TEST_F(EventMonitorTest, CopyPathWithoutPlainTextGivesEmptyTextAndStillRestores) {
    PasteboardItem image;
    image.setStringForType("pixels", "public.png");
    app_->setFocusedElement(nullptr);
    app_->setCopiedItems({image});
    app_->setCopyReaction(SimApplication::CopyReaction::Immediately);

    auto result = read();  // the pasteboard was empty before
    sim_.scheduler().advance(50ms);
    EXPECT_EQ(*result, "");
    EXPECT_EQ(sim_.pasteboard().itemCount(), 0u);
    EXPECT_EQ(logLines(), std::vector<std::string>{"[INFO] Get selected text by simulator: "});
}

TEST_F(EventMonitorTest, DragInACopyOnlyApplicationAnnouncesAfterTheCopy) {
    monitor_.start();
    app_->setFocusedElement(nullptr);
    app_->setSelection("copied by drag");
    app_->setCopyReaction(SimApplication::CopyReaction::Immediately);
    showIBeam();
    dragOverText();
    EXPECT_EQ(announcements_, 0);
    sim_.scheduler().advance(50ms);
    EXPECT_EQ(announcements_, 1);

    // Reads in quick succession each restore what they saved: the user's contents come back.
    sim_.pasteboard().copyFromOtherApplication({textItem("user's")});
    dragOverText();
    sim_.scheduler().advance(10ms);
    dragOverText();
    sim_.scheduler().advance(100ms);
    EXPECT_EQ(announcements_, 3);
    EXPECT_EQ(sim_.pasteboard().firstString(), "user's");
    EXPECT_EQ(sim_.scheduler().pendingCount(), 0u);
}

TEST_F(EventMonitorTest, PermissionAndPointerComeFromThePlatformUnchanged) {
    EXPECT_TRUE(monitor_.isAccessibilityPermissionGranted(true));
    sim_.setTrusted(false);
    EXPECT_FALSE(monitor_.isAccessibilityPermissionGranted(false));
    EXPECT_EQ(sim_.trustChecks(), (std::vector<bool>{true, false}));
    sim_.setMouseLocation({12.5, -3.25});
    EXPECT_EQ(monitor_.getMouseLocation(), (platform::Point{12.5, -3.25}));
}

TEST_F(EventMonitorTest, InsertionLeavesTheTextOnThePasteboardAndPastesIt) {
    sim_.pasteboard().copyFromOtherApplication({textItem("user's")});
    pasteboardHelper_.copyTextToPasteboard("inserted");
    pasteboardHelper_.simulatePaste();
    EXPECT_EQ(app_->pastes(), (std::vector<std::optional<std::string>>{"inserted"}));
    EXPECT_EQ(sim_.pasteboard().firstString(), "inserted");
}

TEST_F(EventMonitorTest, DestroyedMonitorDropsItsPendingAnnouncements) {
    int announced = 0;
    {
        EventMonitor monitor(sim_, cursorHelper_, pasteboardHelper_);
        monitor.setTextSelectedHandler([&] { ++announced; });
        monitor.start();
        select("word");
        showIBeam();
        sim_.multiClick(2);
        app_->setFocusedElement(nullptr);
        app_->setCopyReaction(SimApplication::CopyReaction::Immediately);
        dragOverText();
        EXPECT_EQ(sim_.taps().installedCount(), 1u);
    }
    EXPECT_EQ(sim_.taps().installedCount(), 0u);
    sim_.scheduler().runAll();
    EXPECT_EQ(announced, 0);
    EXPECT_EQ(sim_.pasteboard().itemCount(), 0u) << "the pending copy-path read still restored";
}

}  // namespace
