// End to end: the real tandrel-helper on a private headless sway, KWin and GNOME Shell (with the shipped
// Shell extension; input there from a test-only extension), a real GTK 3 window (Wayland, not Xwayland), the
// test's pointer for gestures and a client on the helper's socket. Cases that need what only one desktop has
// run on that one. Skipped, with the reason, only when the compositor cannot start. The GNOME runs are one
// unprivileged user's (see run-as-desktop-user.sh).
//
// One helper serves each desktop's suite; every test connects a fresh client (so every test starts with the
// monitor stopped). Absence of an event is checked over a window well past the helper's settle time.

#include <gtest/gtest.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "HelperTestSupport.h"
#include "dispatch/RunLoop.h"
#include "platform/wayland/GnomePlatform.h"
#include "platform/wayland/internal/testing/Compositor.h"
#include "platform/wayland/internal/testing/GnomeShellServer.h"
#include "platform/wayland/internal/testing/GtkWaylandView.h"
#include "platform/wayland/internal/testing/SwayServer.h"
#include "platform/x11/internal/testing/ChildProcess.h"

namespace {

using namespace std::chrono_literals;
using helper::testing::HelperSession;
using helper::testing::json;
using wayland::testing::Compositor;
using wayland::testing::GtkWaylandView;
using x11::testing::runCommand;
using x11::testing::waitUntil;

constexpr const char* kEvent = helper::testing::kSelectionEvent;
constexpr auto kQuiet = helper::testing::kQuietWindow;
// Presses further apart than GTK's double-click time count as separate clicks.
constexpr auto kClickSeparation = 450ms;
constexpr int kLine = 18;

// Every desktop's suite: its compositor and helper, a fresh client per test, GTK views, and gestures of the
// test's pointer kept apart so that GTK does not merge them into one multiple click.
class WaylandServiceTest : public ::testing::TestWithParam<Compositor::Kind> {
  protected:
    static void TearDownTestSuite() {
        if (!helper_) return;
        EXPECT_EQ(helper_->stop(), 0) << "the helper did not end with status 0 on SIGTERM";
        helper_.reset();
    }

    void SetUp() override {
        const bool isGnome = GetParam() == Compositor::Kind::Gnome;
        if (isGnome) {
            ASSERT_NE(geteuid(), 0u) << "run as the desktop's user, through run-as-desktop-user.sh";
        }
        std::string why;
        // KWin lets the helper strike keys only when it trusts the helper's program.
        const std::string helperPath = std::filesystem::canonical(helper::testing::helperUnderTest());
        compositor_ = wayland::testing::sharedCompositor(GetParam(), &why, {helperPath});
        if (!compositor_) GTEST_SKIP() << wayland::testing::cannotStart(GetParam(), why);
        viewEnv_ = compositor_->env();
        if (!isGnome) viewEnv_.push_back("DISPLAY=");
        // Run unfiltered, the binary takes the desktops' cases in turn: each gets a helper of its own.
        if (helper_ && helperDesktop_ != compositor_->name()) TearDownTestSuite();
        if (!helper_) {
            helperDesktop_ = compositor_->name();
            // No X display but GNOME's: elsewhere the helper must choose Wayland.
            helper_ = HelperSession::start(helperPath, isGnome ? gnome().display() : "", &why, 10s,
                                           compositor_->socket(), compositor_->helperEnv());
            ASSERT_TRUE(helper_) << why;
        }
        ASSERT_TRUE(helper_->isRunning()) << "the helper died in an earlier test";
        ASSERT_TRUE(helper_->connect());
        ASSERT_TRUE(permission());
    }
    void TearDown() override {
        if (helper_) helper_->disconnect();
    }

    wayland::testing::SwayServer& sway() { return static_cast<wayland::testing::SwayServer&>(*compositor_); }
    wayland::testing::GnomeShellServer& gnome() {
        return static_cast<wayland::testing::GnomeShellServer&>(*compositor_);
    }

    std::unique_ptr<GtkWaylandView> gtk(const std::string& text) {
        std::string why;
        auto view = GtkWaylandView::start(viewEnv_, text, &why);
        EXPECT_TRUE(view) << why;
        return view;
    }

    bool permission() {
        return json(helper_->request("IsPermissionGranted")) ==
               nlohmann::json::parse(R"({"type":"IsPermissionGranted","result":true})");
    }
    void startMonitor() {
        EXPECT_EQ(json(helper_->request("StartMonitor")),
                  nlohmann::json::parse(R"({"type":"StartMonitor","result":true})"));
    }
    std::string selectedText() {
        return json(helper_->request("SelectedText")).value("content", std::string("<no answer>"));
    }
    void expectOneEvent(const std::string& what) {
        SCOPED_TRACE(what);
        auto event = helper_->waitFor(kEvent);
        ASSERT_TRUE(event) << "no SelectionEvent";
        EXPECT_EQ(json(event), nlohmann::json::parse(R"({"type":"SelectionEvent"})"));
        EXPECT_FALSE(helper_->waitFor(kEvent, kQuiet)) << "a second SelectionEvent";
    }
    void click(int x, int y, int count = 1) {
        std::this_thread::sleep_until(lastGesture_ + kClickSeparation);
        compositor_->moveTo(x, y);
        for (int i = 0; i < count; ++i) {
            compositor_->button(true);
            compositor_->button(false);
        }
        lastGesture_ = std::chrono::steady_clock::now();
    }
    // A window just shown may miss its first pointer input (seen without the helper involved): give it a
    // click far from the text before the gestures that count.
    void wakeWindow() { click(1200, 780); }
    void drag(int x1, int y1, int x2, int y2) {
        std::this_thread::sleep_until(lastGesture_ + kClickSeparation);
        compositor_->moveTo(x1, y1);
        compositor_->button(true);
        for (int step = 1; step <= 4; ++step) {
            compositor_->moveTo(x1 + (x2 - x1) * step / 4, y1 + (y2 - y1) * step / 4);
            std::this_thread::sleep_for(10ms);
        }
        compositor_->button(false);
        lastGesture_ = std::chrono::steady_clock::now();
    }

    static inline std::unique_ptr<HelperSession> helper_;
    static inline std::string helperDesktop_;
    Compositor* compositor_ = nullptr;
    std::vector<std::string> viewEnv_;
    std::chrono::steady_clock::time_point lastGesture_{};
};

// Cases that need sway: foot and Xwayland run there.
using WaylandSwayServiceTest = WaylandServiceTest;
// Cases of GNOME's own: its clipboard and its extension.
using GnomeServiceTest = WaylandServiceTest;

// A drag, a double click and a single click in a view of two lines, then a selection made otherwise: each
// announced once and read back, the single click never.
TEST_P(WaylandServiceTest, GtkSelectionsAreAnnouncedOnceAndTheirTextReadBack) {
    const bool isGnome = GetParam() == Compositor::Kind::Gnome;
    // GNOME's maximized view has its text below the shell's top panel and the window's title bar.
    const int top = isGnome ? 69 : 0;
    auto view = gtk("alpha bravo charlie|delta echo foxtrot");
    ASSERT_TRUE(view);
    wakeWindow();
    startMonitor();
    // On GNOME from the keyboard: the single click left the cursor at the end, Shift+Home selects the last
    // line. Elsewhere an application that replaces its selection step by step: announced once, when final.
    auto selectOtherwise = [&] {
        constexpr unsigned kShift = 0xffe1, kHome = 0xff50;  // keysyms
        if (isGnome) {
            for (auto [key, down] : {std::pair{kShift, true}, std::pair{kHome, true}, std::pair{kHome, false},
                                     std::pair{kShift, false}})
                gnome().key(key, down);
            return;
        }
        for (const char* range : {"select 20 22", "select 20 24", "select 20 30"})
            ASSERT_TRUE(view->command(range));
    };
    struct Gesture {
        const char* what;
        std::function<void()> make;
        const char* text;  // null: nothing may be announced
    };
    const Gesture gestures[] = {
        {"drag", [&] { drag(3, top + kLine / 2, 900, top + kLine / 2); }, "alpha bravo charlie"},
        {"double click", [&] { click(20, top + kLine * 3 / 2, 2); }, "delta"},
        {"single click", [&] { click(600, 400); }, nullptr},
        {"otherwise", selectOtherwise, isGnome ? "delta echo foxtrot" : "delta echo"},
    };
    for (const auto& gesture : gestures) {
        SCOPED_TRACE(gesture.what);
        gesture.make();
        if (!gesture.text) {
            EXPECT_FALSE(helper_->waitFor(kEvent, kQuiet)) << "a single click was announced";
            continue;
        }
        expectOneEvent(gesture.what);
        EXPECT_EQ(selectedText(), gesture.text);
    }
}

TEST_P(WaylandServiceTest, InsertTextLandsMouseLocationIsThePointersWithYFlippedAndNoClickIsLost) {
    auto view = gtk("tail");
    ASSERT_TRUE(view);
    EXPECT_EQ(json(helper_->request("InsertText", std::string("inserted \xE2\x82\xAC "))),
              nlohmann::json::parse(R"({"type":"InsertText","result":true})"));
    EXPECT_TRUE(waitUntil([&] { return view->text() == "inserted \xE2\x82\xAC tail"; }, 5s))
        << view->text().value_or("<no answer>");
    // GTK is no terminal (which would paste PRIMARY on the chord): where the helper can tell, PRIMARY stays.
    if (compositor_->kind() == Compositor::Kind::Sway) {
        EXPECT_NE(runCommand({"wl-paste", "--primary", "--no-newline"}, compositor_->env()),
                  "inserted \xE2\x82\xAC ");
    }
    // A window just shown may miss its very first click (seen without the helper involved too): wait until
    // this one takes clicks before counting them.
    auto clicked = [&](int count) { return waitUntil([&] { return view->clicks() >= count; }, 1s); };
    for (int attempt = 0; attempt < 5 && view->clicks() < 1; ++attempt) {
        click(640, 400);
        clicked(1);
    }
    ASSERT_GE(view->clicks(), 1) << "the window takes no clicks";

    // GNOME's top-left corner opens the overview: the bottom-left one there.
    const auto corner = GetParam() == Compositor::Kind::Gnome ? std::pair{1, 799} : std::pair{0, 0};
    for (auto [x, y] : {std::pair{300, 200}, std::pair{1000, 700}, corner}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        // Answered with y flipped against the 800 pixels high output. GNOME's virtual pointer moves a moment
        // after the call that asked for it: ask again until then.
        compositor_->moveTo(x, y);
        const auto expected = nlohmann::json({{"type", "MouseLocation"}, {"x", x}, {"y", 800 - y}});
        nlohmann::json answer;
        EXPECT_TRUE(
            waitUntil([&] { return (answer = json(helper_->request("MouseLocation"))) == expected; }, 2s))
            << answer << " instead of " << expected;
        // The overlay that found the pointer is gone: a click right after the answer reaches the application.
        const int before = view->clicks();
        click(x, y);
        EXPECT_TRUE(clicked(before + 1)) << "the click after the answer was lost";
    }
}

// An application that does not export its selection as PRIMARY, with PRIMARY empty: "SelectedText" takes the
// copy path (copy chord, read, restore) and the user's clipboard comes back.
TEST_P(WaylandSwayServiceTest, SelectedTextWithoutPrimaryTakesTheCopyPathAndRestoresTheClipboard) {
    auto view = gtk("alpha bravo charlie");
    ASSERT_TRUE(view);
    ASSERT_EQ(view->command("unexported"), "ok unexported");
    auto run = [&](const std::vector<std::string>& argv) { return runCommand(argv, sway().env()); };
    run({"wl-copy", "--primary", "--clear"});
    run({"wl-copy", "the user's clipboard"});
    ASSERT_EQ(run({"wl-paste", "--no-newline"}), "the user's clipboard");
    ASSERT_EQ(view->command("select 6 11"), "ok select 6 11");
    EXPECT_EQ(selectedText(), "bravo");
    EXPECT_EQ(run({"wl-paste", "--no-newline"}), "the user's clipboard");
}

// In a terminal a drag and a double click are each announced once and read back. It never gets the copy
// chord: with PRIMARY empty, a read has no way left, and its shell, which writes every byte it receives to a
// file, receives none. Inserted text reaches it through PRIMARY, which terminals paste on the chord.
TEST_P(WaylandSwayServiceTest, TerminalSelectionsAreReadAndNoCopyChordReachesIt) {
    std::string path = runCommand({"mktemp", "/tmp/tandrel-typed-XXXXXX"}, {});
    if (!path.empty()) path.pop_back();  // its line break
    ASSERT_FALSE(path.empty());
    x11::testing::ChildProcess::Options options;
    options.env = sway().env();
    auto foot = x11::testing::ChildProcess::start(
        {"foot", "sh", "-c", "printf 'alpha bravo charlie'; stty raw -echo; exec cat >\"$0\"", path},
        options);
    ASSERT_TRUE(foot && sway().waitForWindow("foot")) << "foot did not map a window";
    wakeWindow();
    startMonitor();
    drag(2, 8, 1200, 8);
    expectOneEvent("drag");
    EXPECT_EQ(selectedText(), "alpha bravo charlie");
    click(4, 8, 2);
    expectOneEvent("double click");
    EXPECT_EQ(selectedText(), "alpha");

    runCommand({"wl-copy", "--primary", "--clear"}, sway().env());
    std::this_thread::sleep_for(300ms);  // the helper learns that PRIMARY is empty
    EXPECT_EQ(selectedText(), "");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(runCommand({"cat", path}, {}), "") << "keys reached the terminal";
    EXPECT_EQ(json(helper_->request("InsertText", std::string("inserted"))),
              nlohmann::json::parse(R"({"type":"InsertText","result":true})"));
    EXPECT_TRUE(waitUntil([&] {
        return runCommand({"cat", path}, {}) == "inserted";
    })) << runCommand({"cat", path}, {});
    runCommand({"rm", "-f", path}, {});
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
for attempt in range(250):
    types = call("Types", GLib.Variant("(s)", ("CLIPBOARD",)))
    if len(types) >= int(sys.argv[1]):
        break
    time.sleep(0.02)
for t in types:
    print(t, bytes(call("Read", GLib.Variant("(ss)", ("CLIPBOARD", t)))).hex(), flush=True)
)PY";
    x11::testing::ChildProcess::Options options;
    options.captureStdout = true;
    auto reader = x11::testing::ChildProcess::start(
        {"/usr/bin/python3", "-c", kReader, std::to_string(minimumTypes)}, options);
    std::map<std::string, std::string> types;
    if (!reader) return types;
    std::istringstream lines(reader->readOutput([] { dispatch::RunLoop::main().runFor(2ms); }));
    for (std::string type, hex; lines >> type >> hex;) types[type] = hex;
    return types;
}

std::string hexOf(const platform::Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (auto byte : bytes) (hex += digits[byte >> 4]) += digits[byte & 15];
    return hex;
}

TEST_P(GnomeServiceTest, ClipboardRestoreKeepsEveryTypeThroughXwaylandAndTextWithout) {
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
            ::setenv("DISPLAY", gnome().display().c_str(), 1);
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
TEST_P(GnomeServiceTest, DisabledExtensionGivesNoPermissionAndThePromptSaysHowToEnableIt) {
    ASSERT_TRUE(gnome().setExtensionEnabled(false));
    EXPECT_TRUE(x11::testing::waitUntil([&] { return !permission(); }, 5s)) << "permission with it disabled";

    auto platform = platform::wayland::createGnomePlatform();
    ASSERT_TRUE(platform) << "GNOME Shell is still there";
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(platform->accessibility().isProcessTrustedWithOptions(true));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("gnome-extensions enable helper@tandrel.com"),
              std::string::npos);

    ASSERT_TRUE(gnome().setExtensionEnabled(true));
    EXPECT_TRUE(x11::testing::waitUntil([&] { return permission(); }, 5s))
        << "no permission once enabled again";
}

INSTANTIATE_TEST_SUITE_P(, WaylandServiceTest,
                         ::testing::Values(Compositor::Kind::Sway, Compositor::Kind::KWin,
                                           Compositor::Kind::Gnome),
                         wayland::testing::compositorName);
INSTANTIATE_TEST_SUITE_P(, WaylandSwayServiceTest, ::testing::Values(Compositor::Kind::Sway),
                         wayland::testing::compositorName);
INSTANTIATE_TEST_SUITE_P(, GnomeServiceTest, ::testing::Values(Compositor::Kind::Gnome),
                         wayland::testing::compositorName);

}  // namespace
