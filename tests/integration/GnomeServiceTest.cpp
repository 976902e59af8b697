// End to end on a private headless GNOME Shell: the real tandrel-helper and the shipped Shell extension, a
// real GTK 3 window (Wayland, not Xwayland), input from the test-only extension's virtual pointer, and a
// client on the helper's socket; the clipboard restore is checked on the platform itself, read back through
// the shell. Skipped, with the reason, only when gnome-shell cannot start. Runs as one unprivileged user (see
// run-as-desktop-user.sh).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "HelperTestSupport.h"
#include "dispatch/RunLoop.h"
#include "platform/wayland/GnomePlatform.h"
#include "platform/wayland/internal/testing/GnomeShellServer.h"
#include "platform/wayland/internal/testing/GtkWaylandView.h"
#include "platform/x11/internal/testing/ChildProcess.h"

namespace {

using namespace std::chrono_literals;
using helper::testing::HelperSession;
using helper::testing::json;
using wayland::testing::GnomeShellServer;
using wayland::testing::GtkWaylandView;

constexpr const char* kEvent = helper::testing::kSelectionEvent;
constexpr auto kQuiet = helper::testing::kQuietWindow;
constexpr auto kClickSeparation = 450ms;
// The maximized window's text starts below the shell's top panel and the window's title bar.
constexpr int kTextTop = 69;
constexpr int kLine = 18;
constexpr unsigned kShift = 0xffe1;  // keysyms
constexpr unsigned kHome = 0xff50;

class GnomeServiceTest : public ::testing::Test {
  protected:
    static void TearDownTestSuite() {
        if (!helper_) return;
        EXPECT_EQ(helper_->stop(), 0) << "the helper did not end with status 0 on SIGTERM";
        helper_.reset();
    }

    void SetUp() override {
        ASSERT_NE(geteuid(), 0u) << "run as the desktop's user, through run-as-desktop-user.sh";
        std::string why;
        shell_ = wayland::testing::sharedGnomeShell(&why);
        if (!shell_) GTEST_SKIP() << "gnome-shell cannot start, GNOME test skipped: " << why;
        if (!helper_) {
            helper_ = HelperSession::start(helper::testing::helperUnderTest(), shell_->display(), &why, 10s,
                                           shell_->waylandSocket());
            ASSERT_TRUE(helper_) << why;
        }
        ASSERT_TRUE(helper_->isRunning()) << "the helper died in an earlier test";
        ASSERT_TRUE(helper_->connect());
    }

    void TearDown() override {
        if (helper_) helper_->disconnect();
    }

    bool permission() {
        return json(helper_->request("IsPermissionGranted")) ==
               nlohmann::json::parse(R"({"type":"IsPermissionGranted","result":true})");
    }

    std::unique_ptr<GtkWaylandView> gtk(const std::string& text) {
        std::string why;
        auto view = GtkWaylandView::start(shell_->env(), text, &why);
        EXPECT_TRUE(view) << why;
        return view;
    }

    void click(int x, int y, int count = 1) {
        std::this_thread::sleep_until(lastGesture_ + kClickSeparation);
        shell_->moveTo(x, y);
        for (int i = 0; i < count; ++i) {
            shell_->button(true);
            shell_->button(false);
        }
        lastGesture_ = std::chrono::steady_clock::now();
    }
    void drag(int x1, int y1, int x2, int y2) {
        std::this_thread::sleep_until(lastGesture_ + kClickSeparation);
        shell_->moveTo(x1, y1);
        shell_->button(true);
        for (int step = 1; step <= 4; ++step) {
            shell_->moveTo(x1 + (x2 - x1) * step / 4, y1 + (y2 - y1) * step / 4);
            std::this_thread::sleep_for(10ms);
        }
        shell_->button(false);
        lastGesture_ = std::chrono::steady_clock::now();
    }

    void chord(unsigned modifier, unsigned key) {
        shell_->key(modifier, true);
        shell_->key(key, true);
        shell_->key(key, false);
        shell_->key(modifier, false);
    }

    static std::unique_ptr<HelperSession> helper_;
    GnomeShellServer* shell_ = nullptr;
    std::chrono::steady_clock::time_point lastGesture_{};
};

std::unique_ptr<HelperSession> GnomeServiceTest::helper_;

TEST_F(GnomeServiceTest, SelectionsAreAnnouncedOnceAndTheirTextReadBack) {
    ASSERT_TRUE(permission());
    auto view = gtk("alpha bravo charlie|delta echo foxtrot");
    ASSERT_TRUE(view);
    // A window just shown may miss its first pointer input: a click far from the text first.
    click(1200, 780);
    EXPECT_EQ(json(helper_->request("StartMonitor")),
              nlohmann::json::parse(R"({"type":"StartMonitor","result":true})"));

    struct Gesture {
        const char* what;
        std::function<void()> make;
        const char* text;  // null: nothing may be announced
    };
    const Gesture gestures[] = {
        {"drag", [&] { drag(3, kTextTop + kLine / 2, 900, kTextTop + kLine / 2); }, "alpha bravo charlie"},
        {"double click", [&] { click(20, kTextTop + kLine * 3 / 2, 2); }, "delta"},
        {"single click", [&] { click(600, 400); }, nullptr},
        // The click left the cursor at the end of the text: Shift+Home selects the last line.
        {"keyboard selection", [&] { chord(kShift, kHome); }, "delta echo foxtrot"},
    };
    for (const auto& gesture : gestures) {
        SCOPED_TRACE(gesture.what);
        gesture.make();
        if (!gesture.text) {
            EXPECT_FALSE(helper_->waitFor(kEvent, kQuiet)) << "announced";
            continue;
        }
        auto event = helper_->waitFor(kEvent);
        ASSERT_TRUE(event) << "no SelectionEvent";
        EXPECT_FALSE(helper_->waitFor(kEvent, kQuiet)) << "a second SelectionEvent";
        auto answer = json(helper_->request("SelectedText"));
        EXPECT_EQ(answer.value("content", "<no answer>"), gesture.text);
    }
}

TEST_F(GnomeServiceTest, InsertTextLandsAndMouseLocationIsThePointersWithYFlipped) {
    auto view = gtk("tail");
    ASSERT_TRUE(view);
    EXPECT_EQ(json(helper_->request("InsertText", std::string("inserted \xE2\x82\xAC "))),
              nlohmann::json::parse(R"({"type":"InsertText","result":true})"));
    EXPECT_TRUE(x11::testing::waitUntil([&] { return view->text() == "inserted \xE2\x82\xAC tail"; }, 5s))
        << view->text().value_or("<no answer>");

    for (auto [x, y] : {std::pair{300, 200}, std::pair{1000, 700}, std::pair{1, 799}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        shell_->moveTo(x, y);
        auto answer = json(helper_->request("MouseLocation"));
        EXPECT_EQ(answer["x"], x);
        EXPECT_EQ(answer["y"], 800 - y);
    }
}

// Reads CLIPBOARD back through the shell, as another application would, while the run loop serves it, once at
// least `types` types are on offer (the shell takes an X11 owner over a moment later): type to hex bytes.
std::map<std::string, std::string> clipboardAsTheShellServesIt(std::size_t minimumTypes) {
    constexpr const char* kReader = R"PY(
import sys, time
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
def call(method, args):
    return bus.call_sync("com.tandrel.helper.Shell", "/com/tandrel/helper/Shell", "com.tandrel.helper.Shell",
                         method, args, None, Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
for attempt in range(100):
    types = call("Types", GLib.Variant("(s)", ("CLIPBOARD",)))
    if len(types) >= int(sys.argv[1]):
        break
    time.sleep(0.02)
for t in types:
    try:
        print(t, bytes(call("Read", GLib.Variant("(ss)", ("CLIPBOARD", t)))).hex(), flush=True)
    except GLib.Error as e:
        print(t, "unreadable:" + e.message.replace(" ", "_"), flush=True)
)PY";
    x11::testing::ChildProcess::Options options;
    options.captureStdout = true;
    auto reader = x11::testing::ChildProcess::start(
        {"/usr/bin/python3", "-c", kReader, std::to_string(minimumTypes)}, options);
    std::map<std::string, std::string> types;
    if (!reader) return types;
    std::string out;
    fcntl(reader->stdoutFd(), F_SETFL, O_NONBLOCK);
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline;) {
        dispatch::RunLoop::main().runFor(2ms);
        char chunk[4096];
        ssize_t n = read(reader->stdoutFd(), chunk, sizeof chunk);
        if (n > 0) out.append(chunk, n);
        if (n == 0) break;
    }
    std::istringstream lines(out);
    for (std::string type, hex; lines >> type >> hex;) types[type] = hex;
    return types;
}

std::string hexOf(const platform::Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (auto byte : bytes) (hex += digits[byte >> 4]) += digits[byte & 15];
    return hex;
}

TEST_F(GnomeServiceTest, ClipboardRestoreKeepsEveryTypeThroughXwaylandAndTextWithout) {
    platform::Bytes binary;
    for (int i = 0; i < 256; ++i) binary.push_back(static_cast<std::uint8_t>(i));
    const std::string text = "restored \xE2\x82\xAC";
    const std::string html = "<b>restored</b>";
    platform::PasteboardItem item;
    item.setDataForType(platform::Bytes(text.begin(), text.end()),
                        std::string(platform::kPasteboardTypeString));
    item.setDataForType(platform::Bytes(html.begin(), html.end()), "text/html");
    item.setDataForType(binary, "application/x-tandrel-binary");

    // Without Xwayland first: the X11 owner's end would reach the next platform as a foreign change.
    for (bool xwayland : {false, true}) {
        SCOPED_TRACE(xwayland ? "with Xwayland" : "without Xwayland");
        if (xwayland)
            ::setenv("DISPLAY", shell_->display().c_str(), 1);
        else
            ::unsetenv("DISPLAY");
        std::string why;
        auto platform = platform::wayland::createGnomePlatform(&why);
        ASSERT_TRUE(platform) << why;
        auto& pasteboard = platform->generalPasteboard();
        pasteboard.clearContents();
        ASSERT_TRUE(pasteboard.writeObjects({item}));
        const auto count = pasteboard.changeCount();

        auto served = clipboardAsTheShellServesIt(xwayland ? 3 : 1);
        EXPECT_EQ(served["text/plain;charset=utf-8"], hexOf(platform::Bytes(text.begin(), text.end())));
        if (xwayland) {
            EXPECT_EQ(served["text/html"], hexOf(platform::Bytes(html.begin(), html.end())));
            EXPECT_EQ(served["application/x-tandrel-binary"], hexOf(binary));
        } else {
            EXPECT_EQ(served.size(), 1u) << "the extension serves text alone";
        }
        EXPECT_EQ(pasteboard.changeCount(), count) << "the shell taking over our own clipboard was counted";
    }
}

// Last: it leaves the extension enabled again, but the helper has seen it go.
TEST_F(GnomeServiceTest, DisabledExtensionGivesNoPermissionAndThePromptSaysHowToEnableIt) {
    ASSERT_TRUE(permission());
    ASSERT_TRUE(shell_->setExtensionEnabled(false));
    EXPECT_TRUE(x11::testing::waitUntil([&] { return !permission(); }, 5s)) << "permission with it disabled";

    auto platform = platform::wayland::createGnomePlatform();
    ASSERT_TRUE(platform) << "GNOME Shell is still there";
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(platform->accessibility().isProcessTrustedWithOptions(true));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("gnome-extensions enable helper@tandrel.com"),
              std::string::npos);

    ASSERT_TRUE(shell_->setExtensionEnabled(true));
    EXPECT_TRUE(x11::testing::waitUntil([&] { return permission(); }, 5s))
        << "no permission once enabled again";
}

}  // namespace
