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

// Double and triple clicks and drags on real applications are the service tests' part.
TEST_F(X11PlatformTest, EventTapDeliversLeftButtonEventsWithShiftOnlyWhileEnabled) {
    // Each event as its kind, click count and Shift; a drag's motions as one entry.
    std::vector<std::string> seen;
    const EventMask mask = maskBit(EventType::LeftMouseDown) | maskBit(EventType::LeftMouseUp) |
                           maskBit(EventType::LeftMouseDragged);
    auto leftTap = tap(mask, [&](EventType type, const InputEvent& e) {
        std::string name = type == EventType::LeftMouseDown ? "down"
                           : type == EventType::LeftMouseUp ? "up"
                                                            : "drag";
        if (type != EventType::LeftMouseDragged)
            name += std::to_string(e.getIntegerValueField(EventField::MouseEventClickState));
        if (e.getFlags() & kEventFlagMaskShift) name += "+shift";
        if (type != EventType::LeftMouseDragged || seen.back() != name) seen.push_back(name);
    });
    ASSERT_TRUE(leftTap);
    auto ups = [&] {
        return std::count_if(seen.begin(), seen.end(), [](auto& s) { return s.rfind("up", 0) == 0; });
    };
    // A shift-click, a right click (no left-button event) and a drag.
    ASSERT_TRUE(xdotool({"mousemove", "20",    "20",        "keydown", "shift",     "click",   "1",
                         "keyup",     "shift", "click",     "3",       "mousemove", "400",     "400",
                         "mousedown", "1",     "mousemove", "460",     "420",       "mouseup", "1"}));
    ASSERT_TRUE(pumpUntil([&] { return ups() == 2; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"down1+shift", "up1+shift", "down1", "drag", "up1"}));

    // Disabled: nothing arrives.
    leftTap->setEnabled(false);
    seen.clear();
    ASSERT_TRUE(xdotool({"click", "1"}));
    dispatch::RunLoop::main().runFor(100ms);
    EXPECT_TRUE(seen.empty());
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

// An application copies on the chord even while the user still holds Shift (it must see Control alone). A
// terminal would type it (its shell reads raw bytes into a file, so any key that reaches it shows), and it
// pastes through a chord of its own.
TEST_F(X11PlatformTest, TheCopyChordCopiesInAnApplicationButNeverInATerminalWhichGetsItsPasteChord) {
    std::string why;
    auto tk = ::x11::testing::TkTextWindow::start(server_->displayEnv(), "alpha beta", 50, 500, true, &why);
    ASSERT_TRUE(tk) << why;
    ASSERT_TRUE(xdotool({"mousemove", "250", "600", "keydown", "shift"}));
    postChord(kVK_ANSI_C);
    ASSERT_TRUE(xdotool({"keyup", "shift"}));
    EXPECT_EQ(tk->output().until([](const std::string& l) { return l.rfind("key Insert", 0) == 0; }),
              "key Insert 4");  // Control only (Shift would add 1)
    EXPECT_TRUE(pumpUntil([&] { return clipboard("UTF8_STRING") == "alpha"; }));
    tk.reset();

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
