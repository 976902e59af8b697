// End to end: the real tandrel-helper on a private headless compositor (sway, and KWin where the case does
// not need what only sway has), a real GTK 3 window (Wayland, not Xwayland), the test's pointer for gestures
// and a client on the helper's socket. Skipped, with the reason, only when the compositor cannot start.
//
// One helper serves each compositor's suite; every test connects a fresh client (so every test starts with
// the monitor stopped). Absence of an event is checked over a window well past the helper's settle time.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "HelperTestSupport.h"
#include "platform/wayland/internal/testing/Compositor.h"
#include "platform/wayland/internal/testing/CompositorTest.h"
#include "platform/wayland/internal/testing/GtkWaylandView.h"
#include "platform/wayland/internal/testing/SwayServer.h"
#include "platform/x11/internal/testing/ChildProcess.h"

namespace {

using namespace std::chrono_literals;
using helper::testing::HelperSession;
using helper::testing::json;
using wayland::testing::Compositor;
using wayland::testing::GtkWaylandView;

constexpr const char* kEvent = helper::testing::kSelectionEvent;
constexpr auto kQuiet = helper::testing::kQuietWindow;
// Presses further apart than GTK's double-click time count as separate clicks.
constexpr auto kClickSeparation = 450ms;

class WaylandServiceTest : public ::testing::TestWithParam<Compositor::Kind> {
  protected:
    static void TearDownTestSuite() {
        if (!helper_) return;
        EXPECT_EQ(helper_->stop(), 0) << "the helper did not end with status 0 on SIGTERM";
        helper_.reset();
    }

    void SetUp() override {
        std::string why;
        // KWin lets the helper strike keys only when it trusts the helper's program.
        const std::string helperPath = std::filesystem::canonical(helper::testing::helperUnderTest());
        compositor_ = wayland::testing::sharedCompositor(GetParam(), &why, {helperPath});
        if (!compositor_) GTEST_SKIP() << wayland::testing::cannotStart(GetParam(), why);
        // Run unfiltered, the binary takes the compositors' cases in turn: each gets a helper of its own.
        if (helper_ && helperKind_ != GetParam()) TearDownTestSuite();
        if (!helper_) {
            helperKind_ = GetParam();
            // The compositor and no X display: the helper must choose Wayland.
            helper_ = HelperSession::start(helperPath, "", &why, 10s, compositor_->socket(),
                                           compositor_->helperEnv());
            ASSERT_TRUE(helper_) << why;
        }
        ASSERT_TRUE(helper_->isRunning()) << "the helper died in an earlier test";
        ASSERT_TRUE(helper_->connect());
        auto answer = helper_->request("IsPermissionGranted");
        ASSERT_EQ(json(answer), nlohmann::json::parse(R"({"type":"IsPermissionGranted","result":true})"));
    }

    void TearDown() override {
        if (helper_) helper_->disconnect();
    }

    std::unique_ptr<GtkWaylandView> gtk(const std::string& text) {
        std::string why;
        std::vector<std::string> env = compositor_->env();
        env.push_back("DISPLAY=");
        auto view = GtkWaylandView::start(env, text, &why);
        EXPECT_TRUE(view) << why;
        return view;
    }

    void startMonitor() {
        EXPECT_EQ(json(helper_->request("StartMonitor")),
                  nlohmann::json::parse(R"({"type":"StartMonitor","result":true})"));
    }
    std::string selectedText() {
        auto answer = json(helper_->request("SelectedText"));
        if (!answer.is_object() || !answer.contains("content")) return "<no answer>";
        return answer["content"].get<std::string>();
    }
    void expectOneEvent(const std::string& what) {
        SCOPED_TRACE(what);
        auto event = helper_->waitFor(kEvent);
        ASSERT_TRUE(event) << "no SelectionEvent";
        EXPECT_EQ(json(event), nlohmann::json::parse(R"({"type":"SelectionEvent"})"));
        EXPECT_FALSE(helper_->waitFor(kEvent, kQuiet)) << "a second SelectionEvent";
    }
    void expectNoEvent(const std::string& what) {
        EXPECT_FALSE(helper_->waitFor(kEvent, kQuiet)) << what << " was announced";
    }

    // Gestures of the test's pointer, kept apart so that GTK does not merge them into one multiple click.
    void click(int x, int y, int count = 1) {
        std::this_thread::sleep_until(lastGesture_ + kClickSeparation);
        compositor_->pointer().moveTo(x, y);
        for (int i = 0; i < count; ++i) {
            compositor_->pointer().button(true);
            compositor_->pointer().button(false);
        }
        lastGesture_ = std::chrono::steady_clock::now();
    }
    // A window just shown may miss its first pointer input (seen without the helper involved): give it a
    // click far from the text before the gestures that count.
    void wakeWindow() { click(1200, 780); }
    void drag(int x1, int y1, int x2, int y2) {
        std::this_thread::sleep_until(lastGesture_ + kClickSeparation);
        compositor_->pointer().moveTo(x1, y1);
        compositor_->pointer().button(true);
        for (int step = 1; step <= 4; ++step) {
            compositor_->pointer().moveTo(x1 + (x2 - x1) * step / 4, y1 + (y2 - y1) * step / 4);
            std::this_thread::sleep_for(10ms);
        }
        compositor_->pointer().button(false);
        lastGesture_ = std::chrono::steady_clock::now();
    }

    static std::unique_ptr<HelperSession> helper_;
    static Compositor::Kind helperKind_;
    Compositor* compositor_ = nullptr;
    std::chrono::steady_clock::time_point lastGesture_{};
};

std::unique_ptr<HelperSession> WaylandServiceTest::helper_;
Compositor::Kind WaylandServiceTest::helperKind_;

// Cases that need sway: foot and Xwayland run there.
class WaylandSwayServiceTest : public WaylandServiceTest {
  protected:
    wayland::testing::SwayServer& sway() { return static_cast<wayland::testing::SwayServer&>(*compositor_); }
};

TEST_P(WaylandServiceTest, GtkSelectionsAreAnnouncedOnceAndTheirTextReadBack) {
    auto view = gtk("alpha bravo charlie|delta echo foxtrot");
    ASSERT_TRUE(view);
    wakeWindow();
    startMonitor();

    drag(4, 8, 900, 8);  // from before "alpha" past the end of the first line
    expectOneEvent("drag");
    EXPECT_EQ(selectedText(), "alpha bravo charlie");

    click(4, 30, 2);  // "delta"
    expectOneEvent("double click");
    EXPECT_EQ(selectedText(), "delta");

    click(600, 300);
    expectNoEvent("a single click");

    // An application that replaces its selection step by step is announced once, with the final text.
    for (const char* range : {"select 20 22", "select 20 24", "select 20 30"})
        ASSERT_TRUE(view->command(range));
    expectOneEvent("a selection made in steps");
    EXPECT_EQ(selectedText(), "delta echo");
}

TEST_P(WaylandSwayServiceTest, FootSelectionsAreAnnouncedOnceAndTheirTextReadBack) {
    x11::testing::ChildProcess::Options options;
    options.env = sway().env();
    auto foot = x11::testing::ChildProcess::start(
        {"foot", "--app-id=tandrel-foot", "sh", "-c", "printf 'alpha bravo charlie'; exec sleep 600"},
        options);
    ASSERT_TRUE(foot) << "foot cannot start";
    ASSERT_TRUE(sway().waitForWindow("app_id", "tandrel-foot")) << "foot did not map a window";
    wakeWindow();
    startMonitor();

    drag(2, 8, 1200, 8);
    expectOneEvent("drag in foot");
    EXPECT_EQ(selectedText(), "alpha bravo charlie");

    click(4, 8, 2);
    expectOneEvent("double click in foot");
    EXPECT_EQ(selectedText(), "alpha");
}

TEST_P(WaylandSwayServiceTest, XwaylandXtermSelectionsAreAnnouncedOnceAndTheirTextReadBack) {
    auto xterm = sway().startX11Client({"xterm", "-class", "TandrelXterm", "-e", "sh", "-c",
                                        "printf 'alpha bravo charlie'; exec sleep 600"});
    if (!xterm) GTEST_SKIP() << "X11 clients run in the compositor's namespaces, which needs root";
    ASSERT_TRUE(sway().waitForWindow("class", "TandrelXterm")) << "xterm did not map a window";
    wakeWindow();
    startMonitor();

    drag(2, 6, 1200, 6);
    expectOneEvent("drag in xterm");
    EXPECT_EQ(selectedText(), "alpha bravo charlie\n")
        << "xterm ends a selection past the line's end with its break";

    click(20, 6, 2);
    expectOneEvent("double click in xterm");
    EXPECT_EQ(selectedText(), "alpha");
}

TEST_P(WaylandServiceTest, InsertTextLandsInGtk) {
    auto view = gtk("tail");
    ASSERT_TRUE(view);
    EXPECT_EQ(json(helper_->request("InsertText", std::string("inserted \xE2\x82\xAC "))),
              nlohmann::json::parse(R"({"type":"InsertText","result":true})"));
    bool landed = false;
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         !landed && std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms))
        landed = view->text() == "inserted \xE2\x82\xAC tail";
    EXPECT_TRUE(landed) << view->text().value_or("<no answer>");
}

TEST_P(WaylandServiceTest, MouseLocationIsThePointersPositionWithYFlippedAndNoClickIsLost) {
    auto view = gtk("text");
    ASSERT_TRUE(view);
    // A window just shown may miss its very first click (seen without the helper involved too): wait until
    // this one takes clicks before counting them.
    auto clicked = [&](int count) {
        for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(10ms))
            if (view->clicks() >= count) return true;
        return false;
    };
    for (int attempt = 0; attempt < 5 && view->clicks() < 1; ++attempt) {
        click(640, 400);
        clicked(1);
    }
    ASSERT_GE(view->clicks(), 1) << "the window takes no clicks";

    for (auto [x, y] : {std::pair{300, 200}, std::pair{1000, 700}, std::pair{0, 0}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        compositor_->pointer().moveTo(x, y);
        auto answer = json(helper_->request("MouseLocation"));
        EXPECT_EQ(answer["type"], "MouseLocation");
        EXPECT_EQ(answer["x"], x);
        EXPECT_EQ(answer["y"], 800 - y);
        // The overlay that found the pointer is gone: a click right after the answer reaches the application.
        const int before = view->clicks();
        click(x, y);
        EXPECT_TRUE(clicked(before + 1)) << "the click after the answer was lost";
    }
}

// Several clients at once and a lost client, as on X11: events reach every client that asked; a client that
// goes away takes its monitor with it and a new client hears nothing until it asks.
TEST_P(WaylandServiceTest, EventsReachEveryWatchingClientAndStopWithTheirClient) {
    auto view = gtk("alpha bravo charlie|delta echo foxtrot");
    ASSERT_TRUE(view);
    wakeWindow();
    auto watcher = std::make_unique<helper::testing::HelperClient>();
    ASSERT_TRUE(watcher->connect() && watcher->request("StartMonitor"));
    startMonitor();
    drag(4, 8, 900, 8);
    expectOneEvent("drag with two watchers");
    EXPECT_TRUE(x11::testing::waitUntil([&] { return watcher->count(kEvent) == 1; }));

    ASSERT_TRUE(helper_->connect());
    ASSERT_TRUE(helper_->request("IsPermissionGranted"));
    click(4, 30, 2);
    EXPECT_TRUE(x11::testing::waitUntil([&] { return watcher->count(kEvent) == 2; }))
        << "the watcher was silenced";
    expectNoEvent("a double click, to the new client that did not ask");

    watcher.reset();
    startMonitor();
    drag(4, 8, 900, 8);
    expectOneEvent("drag after the other watcher went away");
}

// An application that does not export its selection as PRIMARY, with PRIMARY empty: "SelectedText" takes the
// copy path (copy chord, read, restore) and the user's clipboard comes back.
TEST_P(WaylandSwayServiceTest, SelectedTextWithoutPrimaryTakesTheCopyPathAndRestoresTheClipboard) {
    auto view = gtk("alpha bravo charlie");
    ASSERT_TRUE(view);
    ASSERT_EQ(view->command("unexported"), "ok unexported");
    auto run = [&](const std::vector<std::string>& argv) {
        return x11::testing::runCommand(argv, sway().env());
    };
    run({"wl-copy", "--primary", "--clear"});
    run({"wl-copy", "the user's clipboard"});
    ASSERT_EQ(run({"wl-paste", "--no-newline"}), "the user's clipboard");
    ASSERT_EQ(view->command("select 6 11"), "ok select 6 11");
    EXPECT_EQ(selectedText(), "bravo");
    EXPECT_EQ(run({"wl-paste", "--no-newline"}), "the user's clipboard");
}

// A terminal never gets the copy chord: with PRIMARY empty, a read while foot is frontmost has no way left,
// and foot's shell, which writes every byte it receives to a file, receives none. Inserted text reaches it
// through PRIMARY, which terminals paste on the chord.
TEST_P(WaylandSwayServiceTest, NoCopyChordReachesATerminal) {
    using x11::testing::runCommand;
    std::string path = runCommand({"mktemp", "/tmp/tandrel-typed-XXXXXX"}, {});
    if (!path.empty()) path.pop_back();  // its line break
    ASSERT_FALSE(path.empty());
    x11::testing::ChildProcess::Options options;
    options.env = sway().env();
    auto foot = x11::testing::ChildProcess::start(
        {"foot", "sh", "-c", "stty raw -echo; exec cat >\"$0\"", path}, options);
    ASSERT_TRUE(foot && sway().waitForWindow("app_id", "foot")) << "foot did not map a window";
    runCommand({"wl-copy", "--primary", "--clear"}, sway().env());
    std::this_thread::sleep_for(300ms);  // the helper learns of the activated window
    EXPECT_EQ(selectedText(), "");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(runCommand({"cat", path}, {}), "") << "keys reached the terminal";
    EXPECT_EQ(json(helper_->request("InsertText", std::string("inserted"))),
              nlohmann::json::parse(R"({"type":"InsertText","result":true})"));
    EXPECT_TRUE(x11::testing::waitUntil([&] {
        return runCommand({"cat", path}, {}) == "inserted";
    })) << runCommand({"cat", path}, {});
    runCommand({"rm", "-f", path}, {});
}

INSTANTIATE_TEST_SUITE_P(, WaylandServiceTest,
                         ::testing::Values(Compositor::Kind::Sway, Compositor::Kind::KWin),
                         wayland::testing::compositorName);
INSTANTIATE_TEST_SUITE_P(, WaylandSwayServiceTest, ::testing::Values(Compositor::Kind::Sway),
                         wayland::testing::compositorName);

}  // namespace
