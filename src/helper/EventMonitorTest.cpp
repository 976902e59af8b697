#include "helper/EventMonitor.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "helper/internal/SimDesktopTestSupport.h"

namespace {

using namespace std::chrono_literals;
using helper::testing::textItem;
using platform::PasteboardItem;
using platform::sim::SimApplication;
using platform::sim::SimCursorImages;

class EventMonitorTest : public helper::testing::SimDesktopTest {
  protected:
    void SetUp() override {
        SimDesktopTest::SetUp();
        monitor_.setTextSelectedHandler([this] { ++announcements_; });
    }

    // Plays a gesture written as words: ibeam, arrow, down[N], shiftdown, drag, up[N], wait150, stop.
    void play(const std::string& script) {
        std::istringstream words(script);
        for (std::string word; words >> word;) {
            const int clicks = std::isdigit(static_cast<unsigned char>(word.back())) ? word.back() - '0' : 1;
            if (word == "ibeam" || word == "arrow") {
                sim_.setCursor(word == "ibeam" ? SimCursorImages::iBeam() : SimCursorImages::arrow());
            } else if (word.starts_with("down")) {
                sim_.mouseDown(0, clicks);
            } else if (word == "shiftdown") {
                sim_.mouseDown(platform::kEventFlagMaskShift);
            } else if (word == "drag") {
                sim_.mouseDragged();
            } else if (word.starts_with("up")) {
                sim_.mouseUp(clicks);
            } else if (word == "wait150") {
                sim_.scheduler().advance(150ms);
            } else if (word == "stop") {
                monitor_.stop();
            } else {
                ADD_FAILURE() << "unknown gesture word " << word;
            }
        }
    }
    void dragOverText() { play("down drag drag up"); }
    // Reads through `getSelectedText` and returns what the completion got (nullopt while it has not run).
    std::shared_ptr<std::optional<std::string>> read() {
        auto result = std::make_shared<std::optional<std::string>>();
        monitor_.getSelectedText([result](const std::string& text) {
            ASSERT_FALSE(result->has_value()) << "completion called twice";
            *result = text;
        });
        return result;
    }

    int announcements_ = 0;
};

TEST_F(EventMonitorTest, StartReplacesItsTapAndADisabledTapStaysOffUntilTheNextStart) {
    sim_.taps().setRefuseCreation(true);
    monitor_.start();
    EXPECT_FALSE(monitor_.isTapInstalled());
    sim_.taps().setRefuseCreation(false);

    monitor_.start();
    monitor_.start();
    ASSERT_EQ(sim_.taps().taps().size(), 1u) << "the first tap must not linger";
    EXPECT_EQ(countLines("[INFO] Add Global CG monitor: <SimEventTap #2 mask 0x66 enabled>"), 1u);
    select("word");
    play("ibeam down drag up");
    EXPECT_EQ(announcements_, 1) << "each gesture evaluated once";

    sim_.taps().disableAll();
    dragOverText();
    EXPECT_EQ(announcements_, 1) << "a disabled tap stays disabled";
    monitor_.start();
    dragOverText();
    EXPECT_EQ(announcements_, 2);
}

// Which gestures read the selection, and when: a drag over text at its mouse-up, a double or triple click
// 200 ms after its last release; nothing else. The real desktop cannot hold these boundaries to the
// millisecond.
TEST_F(EventMonitorTest, GesturesAnnounceAtTheirOwnMoment) {
    struct Case {
        const char* script;
        int atOnce, after199ms, after200ms;
    };
    const Case cases[] = {
        {"ibeam drag up2", 0, 0, 0},                            // no mouse-down: ignored
        {"ibeam down drag up down drag up", 2, 2, 2},           // the same text again is announced again
        {"arrow down drag ibeam drag arrow drag up", 1, 1, 1},  // the I-beam at any point of the drag
        {"arrow down drag drag up", 0, 0, 0},
        {"ibeam down up shiftdown up", 0, 0, 0},
        {"ibeam down up down2 drag up2", 0, 0, 1},  // a drag in a double click takes the delayed path
        // A triple click replaces the double click's pending read with its own.
        {"ibeam down up down2 up2 wait150 down3 up3", 0, 0, 1},
        {"ibeam down up down2 up2 down drag up stop", 1, 1, 2},  // neither a drag nor a stop cancels it
    };
    select("word");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        monitor_.start();
        announcements_ = 0;
        play(c.script);
        EXPECT_EQ(announcements_, c.atOnce);
        sim_.scheduler().advance(199ms);
        EXPECT_EQ(announcements_, c.after199ms);
        sim_.scheduler().advance(1ms);
        EXPECT_EQ(announcements_, c.after200ms);
        sim_.scheduler().runAll();
        EXPECT_EQ(announcements_, c.after200ms);
        EXPECT_TRUE(sim_.postedKeyEvents().empty());
    }

    // Blank text (Unicode spaces and line breaks: NBSP, NEL, separators, en quad, thin and ideographic space)
    // is no selection. Anything else is, even a zero-width space, a BOM or broken UTF-8, which is never read
    // past.
    const std::pair<const char*, bool> texts[] = {
        {" \t\r\n\v\f\u00A0\u0085\u2028\u2029\u2000\u2009\u3000", false},
        {"\u3000 a\u00A0\n", true},
        {"\u200B\uFEFF ", true},
        {" \xE2\x80", true},
        {"\xE3\x80 ", true}};
    monitor_.start();
    for (const auto& [text, announced] : texts) {
        SCOPED_TRACE(text);
        announcements_ = 0;
        select(text);
        dragOverText();
        EXPECT_EQ(announcements_, announced ? 1 : 0);
    }
}

TEST_F(EventMonitorTest, CopyPathReadsTheCopiedTextThenRestoresThePasteboard) {
    // A direct answer completes the read before it returns, even an empty one: no copy is tried.
    select("");
    EXPECT_EQ(*read(), "");
    EXPECT_TRUE(sim_.postedKeyEvents().empty());
    EXPECT_EQ(logLines(), std::vector<std::string>{"[INFO] Get selected text by accissibility: "});

    PasteboardItem rich = textItem("user's text"), image;
    rich.setStringForType("{\\rtf1 user's text}", "public.rtf");
    image.setStringForType("pixels", "public.png");
    sim_.pasteboard().copyFromOtherApplication({rich, image});
    // A type that cannot be read is left out; its item still comes back.
    sim_.pasteboard().setUnreadableType("public.png");
    copyOnly("copied selection");
    std::optional<std::string> pasteboardAtCompletion;
    std::optional<std::string> result;
    monitor_.getSelectedText([&](const std::string& text) {
        result = text;
        pasteboardAtCompletion = sim_.pasteboard().firstString();
    });
    // The application copies on the chord at once; the text is read as soon as the copy shows.
    EXPECT_FALSE(result);
    sim_.scheduler().advance(0ms);
    EXPECT_EQ(result, "copied selection");
    EXPECT_EQ(pasteboardAtCompletion, "copied selection") << "completion runs before the restore";
    EXPECT_EQ(sim_.pasteboard().snapshot(), (std::vector<PasteboardItem>{rich, {}}));
    EXPECT_EQ(logLines().back(), "[INFO] Get selected text by simulator: copied selection");

    // Two reads at once share one copy: a second save would take the first read's copy for the user's.
    auto first = read(), second = read();
    sim_.scheduler().advance(0ms);
    EXPECT_EQ(*first, "copied selection");
    EXPECT_EQ(*second, "copied selection");
    EXPECT_EQ(sim_.pasteboard().snapshot(), (std::vector<PasteboardItem>{rich, {}}));
}

// An application that copies only after the wait: the read has already answered empty, and the late copy is
// put back away while it comes within the grace period and before anything else changed the pasteboard.
TEST_F(EventMonitorTest, LateCopyIsPutBackAwayWithinTheGracePeriodUnlessThePasteboardChangedFirst) {
    copyOnly("too late");
    // The grace period runs for a second from the 50 ms verdict; an insert in between ends it.
    for (const auto& [lateBy, insertsFirst, restored] :
         {std::tuple{1040ms, false, true}, std::tuple{1060ms, false, false}, std::tuple{80ms, true, false}}) {
        SCOPED_TRACE(std::to_string(lateBy.count()) + " ms late" + (insertsFirst ? ", inserted" : ""));
        sim_.pasteboard().copyFromOtherApplication({textItem("user's text")});
        app_->setCopyReaction(SimApplication::CopyReaction::Late, lateBy);
        auto result = read();
        sim_.scheduler().advance(50ms);
        EXPECT_EQ(*result, "");
        EXPECT_EQ(sim_.pasteboard().firstString(), "user's text");
        if (insertsFirst) pasteboardHelper_.copyTextToPasteboard("inserted");
        sim_.scheduler().advance(lateBy - 50ms);
        sim_.scheduler().advance(0ms);
        EXPECT_EQ(sim_.pasteboard().firstString(), restored ? "user's text" : "too late");
        sim_.scheduler().runAll();
    }
}

TEST_F(EventMonitorTest, DestroyedMonitorDropsItsPendingAnnouncements) {
    int announced = 0;
    {
        EventMonitor monitor(sim_, cursorHelper_, pasteboardHelper_);
        monitor.setTextSelectedHandler([&] { ++announced; });
        monitor.start();
        select("word");
        play("ibeam down up down2 up2");
        copyOnly("copied");
        dragOverText();
    }
    EXPECT_EQ(sim_.taps().installedCount(), 0u);
    sim_.scheduler().runAll();
    EXPECT_EQ(announced, 0);
    EXPECT_EQ(sim_.pasteboard().itemCount(), 0u) << "the pending copy-path read still restored";
}

}  // namespace
