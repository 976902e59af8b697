// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/X11Platform.h"

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

    // Runs the main run loop until `condition` holds or a few seconds pass.
    static bool pumpUntil(const std::function<bool()>& condition) {
        return ::x11::testing::waitUntil([&] {
            dispatch::RunLoop::main().runFor(5ms);
            return condition();
        });
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

    std::unique_ptr<Platform> platform_;
};

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
    auto user = xclipOwn("user");
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
