// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/X11Platform.h"

#include <algorithm>
#include <fstream>

#include "dispatch/RunLoop.h"
#include "platform/KeyboardEventSource.h"
#include "platform/testing/PasteboardContract.h"
#include "platform/x11/internal/testing/TkTextWindow.h"
#include "platform/x11/internal/testing/XvfbTest.h"

// After the X headers: their status macro would hide AXError::Success.
#undef Success

namespace platform::x11 {
namespace {

using namespace std::chrono_literals;

// The backend's pasteboard on the shared Xvfb, for the shared pasteboard contract.
class X11PasteboardBackend {
  public:
    X11PasteboardBackend() {
        if (auto* server = ::x11::testing::sharedXvfb(&reason_))
            platform_ = createX11Platform(server->displayName(), &reason_);
    }
    Pasteboard& pasteboard() { return platform_->generalPasteboard(); }
    std::string unavailableReason() const {
        return platform_ ? std::string() : "no X11 platform: " + reason_;
    }

  private:
    std::string reason_;
    std::unique_ptr<Platform> platform_;
};

class X11PlatformTest : public ::x11::testing::XvfbTest {
  protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string why;
        platform_ = createX11Platform(display_, &why);
        ASSERT_TRUE(platform_) << why;
    }

    // Runs the main run loop until `condition` holds or `timeout` passes.
    bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5000ms) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            dispatch::RunLoop::main().runFor(5ms);
        }
        return true;
    }

    // The command chord of `key`, as the service posts it.
    void postChord(uint16_t key) {
        KeyboardEventSource source(EventSourceStateID::CombinedSessionState);
        for (bool down : {true, false}) {
            auto event = source.createKeyboardEvent(key, down);
            event.flags = kEventFlagMaskCommand;
            platform_->keyboard().postEvent(EventTapLocation::HIDEventTap, event);
        }
    }

    std::optional<std::string> selectedTextOfFrontmost() {
        auto app = platform_->workspace().frontmostApplication();
        AXValue focused, text;
        if (!app || platform_->accessibility().createApplication(*app)->copyAttributeValue(
                        kAXFocusedUIElementAttribute, focused) != AXError::Success)
            return std::nullopt;
        auto element = std::get<std::shared_ptr<AXUIElement>>(focused);
        if (element->copyAttributeValue(kAXSelectedTextAttribute, text) != AXError::Success)
            return std::nullopt;
        return std::get<std::string>(text);
    }

    std::unique_ptr<EventTap> tap(EventMask mask,
                                  std::function<void(EventType, const InputEvent&)> callback) {
        auto tap = platform_->eventTaps().createEventTap(EventTapLocation::SessionEventTap,
                                                         EventTapPlacement::HeadInsert,
                                                         EventTapOptions::Default, mask, std::move(callback));
        if (tap) tap->addSourceToMainRunLoop();
        return tap;
    }

    std::unique_ptr<Platform> platform_;
};

TEST_F(X11PlatformTest, EventTapDeliversLeftGesturesWithClickCountsFlagsAndOnlyWhenEnabled) {
    struct Seen {
        EventType type;
        uint64_t flags;
        int64_t clicks;
    };
    std::vector<Seen> seen;
    const EventMask mask = maskBit(EventType::LeftMouseDown) | maskBit(EventType::LeftMouseUp) |
                           maskBit(EventType::LeftMouseDragged);
    auto leftTap = tap(mask, [&](EventType type, const InputEvent& e) {
        seen.push_back({type, e.getFlags(), e.getIntegerValueField(EventField::MouseEventClickState)});
    });
    ASSERT_TRUE(leftTap);
    EXPECT_TRUE(leftTap->isEnabled());
    // A shift-click, a right click, a double click and a drag.
    ASSERT_TRUE(
        xdotool({"mousemove", "20",        "20",  "keydown",   "shift",     "click", "1",     "keyup",
                 "shift",     "click",     "3",   "mousemove", "200",       "200",   "click", "--repeat",
                 "2",         "--delay",   "60",  "1",         "mousemove", "400",   "400",   "mousedown",
                 "1",         "mousemove", "460", "420",       "mouseup",   "1"}));
    auto ups = [&] {
        return std::count_if(seen.begin(), seen.end(),
                             [](auto& s) { return s.type == EventType::LeftMouseUp; });
    };
    ASSERT_TRUE(pumpUntil([&] { return ups() == 4; }));
    std::vector<Seen> presses, releases;
    bool dragged = false;
    for (const auto& s : seen) {
        if (s.type == EventType::LeftMouseDown) presses.push_back(s);
        if (s.type == EventType::LeftMouseUp) releases.push_back(s);
        dragged |= s.type == EventType::LeftMouseDragged;
        EXPECT_NE(s.type, EventType::MouseMoved);  // not in the mask
    }
    ASSERT_EQ(presses.size(), 4u);  // the right click is not a left-button event
    EXPECT_EQ(presses[0].flags & kEventFlagMaskShift, kEventFlagMaskShift);
    EXPECT_EQ(presses[1].flags & kEventFlagMaskShift, 0u);
    std::vector<int64_t> clicks;
    for (const auto& r : releases) clicks.push_back(r.clicks);
    EXPECT_EQ(clicks, (std::vector<int64_t>{1, 1, 2, 1}));
    EXPECT_TRUE(dragged);

    // Disabled: nothing arrives; enabled again: events flow.
    leftTap->setEnabled(false);
    seen.clear();
    ASSERT_TRUE(xdotool({"click", "1"}));
    dispatch::RunLoop::main().runFor(100ms);
    EXPECT_TRUE(seen.empty());
    leftTap->setEnabled(true);
    ASSERT_TRUE(xdotool({"click", "1"}));
    EXPECT_TRUE(pumpUntil([&] { return ups() == 1; }));

    // A callback may destroy its own tap.
    int calls = 0;
    std::unique_ptr<EventTap> selfDestroying = tap(mask, [&](EventType, const InputEvent&) {
        ++calls;
        selfDestroying.reset();
    });
    ASSERT_TRUE(selfDestroying);
    ASSERT_TRUE(xdotool({"click", "1", "click", "1"}));
    EXPECT_TRUE(pumpUntil([&] { return ups() == 3; }));
    EXPECT_EQ(calls, 1);
}

TEST_F(X11PlatformTest, WithoutRecordAndXtestThereIsNoPermissionAndNoTap) {
    EXPECT_TRUE(platform_->accessibility().isProcessTrustedWithOptions(false));
    // This Xvfb drops XTEST together with RECORD: monitoring and synthesis are impossible there.
    std::string why;
    auto bare = ::x11::testing::XvfbServer::start(&why, {"-extension", "RECORD"});
    ASSERT_TRUE(bare) << why;
    auto platform = createX11Platform(bare->displayName(), &why);
    ASSERT_TRUE(platform) << why;
    EXPECT_FALSE(platform->accessibility().isProcessTrustedWithOptions(true));
    EXPECT_FALSE(platform->eventTaps().createEventTap(
        EventTapLocation::SessionEventTap, EventTapPlacement::HeadInsert, EventTapOptions::Default,
        maskBit(EventType::LeftMouseDown), [](EventType, const InputEvent&) {}));
    platform.reset();
    // An unreachable display gives no platform at all, with the reason.
    why.clear();
    EXPECT_FALSE(createX11Platform(":4097", &why));
    EXPECT_NE(why.find(":4097"), std::string::npos) << why;
}

TEST_F(X11PlatformTest, SelectedTextIsTheFrontmostClientsPrimarySelectionOnly) {
    auto xterm = this->xterm("60x5+100+100", "printf 'select me in xterm\\n'; sleep 60");
    ASSERT_TRUE(xterm);
    auto leftTap = tap(maskBit(EventType::LeftMouseUp), [](EventType, const InputEvent&) {});
    ASSERT_TRUE(leftTap);
    // Triple click: the whole line.
    ASSERT_TRUE(xdotool({"mousemove", "120", "108", "click", "--repeat", "3", "--delay", "50", "1"}));
    dispatch::RunLoop::main().runFor(20ms);
    auto app = platform_->workspace().frontmostApplication();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->processIdentifier, xterm->pid());
    EXPECT_EQ(app->localizedName, "XTerm");
    EXPECT_EQ(selectedTextOfFrontmost().value_or("").substr(0, 18), "select me in xterm");

    // A Tk text window that keeps its selection to itself: PRIMARY is still xterm's, so no text.
    std::string why;
    auto tk =
        ::x11::testing::TkTextWindow::start(server_->displayEnv(), "private words", 700, 100, true, &why);
    ASSERT_TRUE(tk) << why;
    ASSERT_TRUE(xdotool({"mousemove", "800", "200"}));
    app = platform_->workspace().frontmostApplication();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->processIdentifier, tk->pid());
    EXPECT_FALSE(selectedTextOfFrontmost());
}

// A terminal would type the copy chord (its shell reads raw bytes into a file, so any key that reaches it
// shows), and it pastes through a chord of its own.
TEST_F(X11PlatformTest, ATerminalGetsNoCopyChordAndPastesTheInsertedText) {
    const std::string file = "/tmp/tandrel-paste-" + std::to_string(getpid());
    std::remove(file.c_str());
    auto xterm = this->xterm("40x5+100+400", "stty raw -echo; head -c 8 > " + file + "; sleep 60");
    ASSERT_TRUE(xterm);
    ASSERT_TRUE(xdotool({"mousemove", "200", "430"}));
    auto user = xclipOwn("clipboard", "user");
    ASSERT_TRUE(user);
    Pasteboard& pasteboard = platform_->generalPasteboard();
    const auto count = pasteboard.changeCount();
    postChord(kVK_ANSI_C);
    dispatch::RunLoop::main().runFor(50ms);
    EXPECT_EQ(pasteboard.changeCount(), count);
    EXPECT_EQ(clipboard("UTF8_STRING"), "user");

    pasteboard.declareTypes({std::string(kPasteboardTypeString)});
    pasteboard.setString("terminal", kPasteboardTypeString);
    postChord(kVK_ANSI_V);
    std::string got;
    EXPECT_TRUE(pumpUntil([&] {
        std::ifstream in(file);
        got.assign(std::istreambuf_iterator<char>(in), {});
        return got.size() >= 8;
    }));
    EXPECT_EQ(got, "terminal");
    std::remove(file.c_str());
}

}  // namespace
}  // namespace platform::x11

namespace platform::testing {
INSTANTIATE_TYPED_TEST_SUITE_P(X11, PasteboardContractTest, platform::x11::X11PasteboardBackend);
}  // namespace platform::testing
