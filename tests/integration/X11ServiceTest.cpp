// End to end: the real tandrel-helper on a private Xvfb, real X clients (xterm, a Tk text window, xclip)
// driven through XTEST by xdotool, and a client on the helper's socket. Skipped, with the reason, only when
// Xvfb cannot start; a missing X client is a failure.
//
// One helper serves the whole suite; every test connects a fresh client (so every test starts with the
// monitor stopped, since losing the previous client stopped it). Absence of an event is checked over a
// window longer than the helper's longest deferred read (0.2 s after a multiple click).

// GoogleTest and JSON before the X headers: their macros (None, Bool, Status) clash with both.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "HelperTestSupport.h"
#include "helper/XpcService.h"
#include "platform/x11/internal/SelectionServer.h"
#include "platform/x11/internal/WindowQueries.h"

#include <X11/Xatom.h>
#include "platform/x11/internal/testing/TkTextWindow.h"
#include "platform/x11/internal/testing/XvfbTest.h"

namespace {

using namespace std::chrono_literals;
using helper::testing::HelperSession;
using helper::testing::json;
using helper::testing::OtherClient;
using x11::internal::WindowQueries;
using x11::testing::ChildProcess;
using x11::testing::runCommand;
using x11::testing::TkTextWindow;

constexpr const char* kEvent = helper::testing::kSelectionEvent;
constexpr auto kQuiet = helper::testing::kQuietWindow;
// Clicks closer than the desktop's double-click time (0.4 s here) would count as one multiple click.
constexpr auto kClickSeparation = 450ms;

// The xterm text and what its gestures select (xterm's 6x13 "fixed" font, 2-pixel border, at +100+100).
constexpr const char* kXtermText = "alpha bravo charlie\\ndelta echo foxtrot\\n";
constexpr int kXtermX = 100, kXtermY = 100;
int column(int c) {
    return kXtermX + 2 + 6 * c + 3;
}
int row(int r) {
    return kXtermY + 2 + 13 * r + 6;
}

class X11ServiceTest : public x11::testing::XvfbTest {
  protected:
    // The helper must still be running and end cleanly: a crash, a sanitizer report or a hang at exit shows
    // here.
    static void TearDownTestSuite() {
        if (!helper_) return;
        EXPECT_EQ(helper_->stop(), 0) << "the helper did not end with status 0 on SIGTERM";
        helper_.reset();
    }

    void SetUp() override {
        XvfbTest::SetUp();
        if (IsSkipped()) return;
        if (!helper_) {
            std::string why;
            helper_ = HelperSession::start(helper::testing::helperUnderTest(), display_, &why);
            ASSERT_TRUE(helper_) << why;
        }
        ASSERT_TRUE(helper_->isRunning()) << "the helper died in an earlier test";
        ASSERT_TRUE(helper_->connect());
        // Accepted once it answers.
        auto answer = helper_->request("IsPermissionGranted");
        ASSERT_TRUE(answer) << "no answer from the helper";
        ASSERT_EQ(json(answer), nlohmann::json::parse(R"({"type":"IsPermissionGranted","result":true})"));
    }

    void TearDown() override {
        if (helper_) helper_->disconnect();
    }

    void startMonitor() {
        auto answer = helper_->request("StartMonitor");
        ASSERT_TRUE(answer);
        EXPECT_EQ(json(answer), nlohmann::json::parse(R"({"type":"StartMonitor","result":true})"));
    }

    std::string selectedText() {
        auto answer = json(helper_->request("SelectedText"));
        if (!answer.is_object() || !answer.contains("content")) return "<no answer>";
        EXPECT_EQ(answer["type"], "SelectedText");
        return answer["content"].get<std::string>();
    }

    // A user's gesture through XTEST, kept apart from the previous one so that click counting (the helper's
    // and the application's) does not merge them.
    void gesture(const std::vector<std::string>& args) {
        std::this_thread::sleep_until(lastGesture_ + kClickSeparation);
        ASSERT_TRUE(xdotool(args));
        lastGesture_ = std::chrono::steady_clock::now();
    }
    // With `pause`, at a human pace: a window manager that grabs the press (to focus the window) replays it
    // only after a round trip, and the application loses a drag whose motion came before that.
    void drag(int x1, int y1, int x2, int y2, bool pause = false) {
        const std::string wait = pause ? "0.05" : "0";
        gesture({"mousemove",
                 std::to_string(x1),
                 std::to_string(y1),
                 "sleep",
                 wait,
                 "mousedown",
                 "1",
                 "sleep",
                 wait,
                 "mousemove",
                 std::to_string((x1 + x2) / 2),
                 std::to_string((y1 + y2) / 2),
                 "sleep",
                 wait,
                 "mousemove",
                 std::to_string(x2),
                 std::to_string(y2),
                 "sleep",
                 wait,
                 "mouseup",
                 "1"});
    }
    void clicks(int x, int y, int count) {
        gesture({"mousemove", std::to_string(x), std::to_string(y), "click", "--repeat",
                 std::to_string(count), "--delay", "60", "1"});
    }

    // One "SelectionEvent", and no second one within the quiet window.
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

    std::unique_ptr<ChildProcess> startXterm() {
        auto xterm =
            spawn({"xterm", "-geometry", "60x5+" + std::to_string(kXtermX) + "+" + std::to_string(kXtermY),
                   "-e", "sh", "-c", std::string("printf '") + kXtermText + "'; sleep 600"});
        EXPECT_TRUE(xterm) << "xterm cannot start";
        if (!xterm) return nullptr;
        xtermWindow_ = windowOf(xterm->pid());
        return xterm;
    }

    // The visible window of process `pid` (waiting for it), as xdotool names windows.
    std::string windowOf(pid_t pid) {
        int status = -1;
        std::istringstream windows(runCommand(
            {"xdotool", "search", "--sync", "--onlyvisible", "--pid", std::to_string(pid)}, env(), &status));
        EXPECT_EQ(status, 0);
        std::string window;
        windows >> window;
        return window;
    }
    // Where a window is on the screen now (a window manager's frame moves it).
    std::pair<int, int> originOf(const std::string& window) {
        auto connection = x11::internal::Connection::open(display_);
        int x = -1, y = -1;
        ::Window child = None;
        if (connection) {
            XTranslateCoordinates(connection->get(), std::stoul(window), DefaultRootWindow(connection->get()),
                                  0, 0, &x, &y, &child);
        }
        return {x, y};
    }
    // The Tk test window (Tk names no process on its windows; its title is its script's name).
    std::string tkWindow() {
        int status = -1;
        std::istringstream windows(runCommand(
            {"xdotool", "search", "--sync", "--onlyvisible", "--name", "^tandrel-tk-"}, env(), &status));
        EXPECT_EQ(status, 0);
        std::string window;
        windows >> window;
        return window;
    }

    // What xclip reads from CLIPBOARD as `target` (its owner is another process).
    std::string clipboard(const std::string& target) {
        int status = -1;
        auto out = runCommand({"xclip", "-o", "-selection", "clipboard", "-t", target}, env(), &status);
        return status == 0 ? out : "<xclip failed>";
    }

    static std::unique_ptr<HelperSession> helper_;
    std::chrono::steady_clock::time_point lastGesture_{};
    std::string xtermWindow_;
};

std::unique_ptr<HelperSession> X11ServiceTest::helper_;

TEST_F(X11ServiceTest, XtermGesturesAreAnnouncedOnceAndTheirTextReadBack) {
    auto xterm = startXterm();
    ASSERT_TRUE(xterm);
    startMonitor();

    // A drag from "bravo" past the end of the first line.
    drag(column(6), row(0), column(40), row(0));
    expectOneEvent("drag");
    EXPECT_EQ(selectedText(), "bravo charlie\n");

    clicks(column(7), row(1), 2);  // "echo"
    expectOneEvent("double click");
    EXPECT_EQ(selectedText(), "echo");

    // The third click cancels the read the second one scheduled: still one event.
    clicks(column(2), row(1), 3);
    expectOneEvent("triple click");
    EXPECT_EQ(selectedText(), "delta echo foxtrot\n");

    clicks(column(3), row(0), 1);
    expectNoEvent("a single click on text");

    // The root window shows no I-beam. With the keyboard focus on xterm, which still owns PRIMARY, a read
    // would find text: only the cursor keeps this quiet.
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", xtermWindow_}));
    drag(700, 600, 900, 700);
    expectNoEvent("a drag over the root window");

    // Still monitoring: the quiet cases were not merely missed.
    drag(column(0), row(1), column(40), row(1));
    expectOneEvent("drag after the quiet cases");
    EXPECT_EQ(selectedText(), "delta echo foxtrot\n");
}

// A drag over blank cells selects nothing, so xterm does not take PRIMARY again and keeps offering its
// previous selection: that stale text must not be announced as the new selection.
TEST_F(X11ServiceTest, DragOverBlankXtermCellsIsNotAnnounced) {
    auto xterm = startXterm();
    ASSERT_TRUE(xterm);
    startMonitor();
    drag(column(6), row(0), column(40), row(0));
    expectOneEvent("drag over text");
    // The clipboard's owner answers one request and then exits: a terminal's selection is never copied, so
    // the user's clipboard is not even read.
    auto owner = xclipOwn("clipboard", "untouched", 1);
    ASSERT_TRUE(owner);
    drag(column(5), row(3), column(30), row(3));
    expectNoEvent("a drag over blank cells");
    EXPECT_EQ(clipboard("UTF8_STRING"), "untouched") << "the helper read the clipboard for a terminal";
}

// Several clients at once (the assistant, a script, the command-line tool): events reach every client that
// asked, in whatever order one-shot clients and watchers come and go.
TEST_F(X11ServiceTest, EventsReachEveryWatchingClientWhileOthersComeAndGo) {
    auto xterm = startXterm();
    ASSERT_TRUE(xterm);
    auto watcher = OtherClient::open();
    ASSERT_TRUE(watcher && watcher->request("StartMonitor"));
    // One-shot clients after the watcher: the session's client, which never asks for events, and one that
    // reads the selection and goes away.
    ASSERT_TRUE(helper_->request("MouseLocation"));
    {
        auto oneShot = OtherClient::open();
        ASSERT_TRUE(oneShot && oneShot->request("SelectedText"));
    }
    drag(column(6), row(0), column(40), row(0));
    EXPECT_TRUE(x11::testing::waitUntil([&] { return watcher->events() == 1; }))
        << "the watcher was silenced";
    expectNoEvent("a drag, to a client that never asked");

    startMonitor();
    drag(column(0), row(1), column(40), row(1));
    expectOneEvent("drag with two watchers");
    EXPECT_TRUE(x11::testing::waitUntil([&] { return watcher->events() == 2; }));

    // The first watcher goes away: the later one keeps its events.
    watcher.reset();
    drag(column(6), row(0), column(40), row(0));
    expectOneEvent("drag after the first watcher went away");

    // A third client watches; the session's watching client goes away and a new one does not ask.
    auto third = OtherClient::open();
    ASSERT_TRUE(third && third->request("StartMonitor"));
    ASSERT_TRUE(helper_->connect());
    ASSERT_TRUE(helper_->request("IsPermissionGranted"));
    drag(column(0), row(1), column(40), row(1));
    EXPECT_TRUE(x11::testing::waitUntil([&] { return third->events() == 1; }));
    expectNoEvent("a drag, to the new client that did not ask");
    EXPECT_EQ(third->events(), 1);
}

TEST_F(X11ServiceTest, MonitorStopsWithItsClientAndASecondStartLeavesOne) {
    auto xterm = startXterm();
    ASSERT_TRUE(xterm);
    startMonitor();
    startMonitor();
    drag(column(6), row(0), column(40), row(0));
    expectOneEvent("drag after two StartMonitor requests");
    drag(column(0), row(1), column(40), row(1));
    expectOneEvent("second drag after two StartMonitor requests");

    // The client goes away: the monitor stops. A new client that does not start it hears nothing.
    ASSERT_TRUE(helper_->connect());
    ASSERT_TRUE(helper_->request("IsPermissionGranted"));
    drag(column(6), row(0), column(40), row(0));
    expectNoEvent("a drag after the client was lost");

    startMonitor();
    drag(column(0), row(1), column(40), row(1));
    expectOneEvent("drag after StartMonitor from the new client");

    // An older client still connected (a previous instance of the application, never watching) goes away
    // after a newer one started the monitor: the newer one keeps its events.
    auto older = OtherClient::open();
    ASSERT_TRUE(older) << "a second client could not connect";
    ASSERT_TRUE(helper_->connect());
    ASSERT_TRUE(helper_->request("IsPermissionGranted"));
    startMonitor();
    older.reset();
    ASSERT_TRUE(helper_->request("IsPermissionGranted"));
    drag(column(6), row(0), column(40), row(0));
    expectOneEvent("drag after an older client went away");

    // SIGTERM ends the helper cleanly with its input recording running; the client is told. The next test
    // starts a new helper.
    EXPECT_EQ(helper_->stop(), 0);
    EXPECT_TRUE(helper_->waitForError(xpc::ErrorCode::ConnectionInterrupted));
    helper_.reset();
}

// A window manager that ended leaves _NET_ACTIVE_WINDOW naming its last window; without a manager a click
// does not move the focus either. Selections in a terminal and in an application that needs the copy key
// stroke must still be read, and the key stroke must never be typed into the terminal (its shell reads raw
// bytes into a file, so any key that reaches it shows).
TEST_F(X11ServiceTest, StaleActiveWindowNeitherHidesSelectionsNorSendsTheCopyChordIntoATerminal) {
    auto connection = x11::internal::Connection::open(display_);
    ASSERT_TRUE(connection);
    ::Display* dpy = connection->get();
    const ::Window root = DefaultRootWindow(dpy);
    const ::Atom active = connection->atom("_NET_ACTIVE_WINDOW");
    // Later tests share the display: no manager's properties stay behind.
    struct Cleanup {
        ::Display* dpy;
        ::Window root;
        ::Atom active, check;
        ~Cleanup() {
            XDeleteProperty(dpy, root, active);
            XDeleteProperty(dpy, root, check);
            XSetInputFocus(dpy, PointerRoot, RevertToPointerRoot, CurrentTime);
            XSync(dpy, False);
        }
    } cleanup{dpy, root, active, connection->atom("_NET_SUPPORTING_WM_CHECK")};
    auto windowManager = spawn({"openbox", "--sm-disable"});
    ASSERT_TRUE(windowManager) << "openbox cannot start";
    ASSERT_TRUE(x11::testing::waitUntil([&] { return WindowQueries::hasLiveWindowManager(*connection); }));

    char directory[] = "/tmp/tandrel-urxvt-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    const std::string typed = std::string(directory) + "/typed";
    auto urxvt = spawn({"urxvt", "+sb", "-fn", "fixed", "-geometry", "60x5+100+100", "-e", "sh", "-c",
                        std::string("printf '") + kXtermText + "'; stty raw -echo; exec cat > " + typed});
    ASSERT_TRUE(urxvt) << "urxvt cannot start";
    const std::string urxvtWindow = windowOf(urxvt->pid());
    std::string why;
    auto tk = TkTextWindow::start(server_->displayEnv(), "alpha beta", 500, 500, false, &why);
    ASSERT_TRUE(tk) << why;
    startMonitor();

    auto selectInTerminal = [&](const std::string& what) {
        SCOPED_TRACE("urxvt, " + what);
        auto [x, y] = originOf(urxvtWindow);
        drag(x + column(6) - kXtermX, y + row(0) - kXtermY, x + column(40) - kXtermX, y + row(0) - kXtermY,
             true);
        expectOneEvent("drag");
        EXPECT_EQ(selectedText(), "bravo charlie\n");
    };
    auto selectInTk = [&](const std::string& what) {
        SCOPED_TRACE("Tk, " + what);
        auto [x, y] = originOf(tkWindow());
        drag(x + 5, y + 8, x + 250, y + 8, true);
        expectOneEvent("drag");
        EXPECT_EQ(selectedText(), "alpha beta\n");
    };
    selectInTerminal("openbox running");
    selectInTk("openbox running");

    windowManager.reset();
    ASSERT_TRUE(x11::testing::waitUntil([&] { return !WindowQueries::hasLiveWindowManager(*connection); }));
    const ::Window tkId = std::stoul(tkWindow());
    for (const ::Window stale : {std::stoul(urxvtWindow), tkId, 0ul}) {
        if (stale != 0) {
            XChangeProperty(dpy, root, active, XA_WINDOW, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&stale), 1);
        } else {
            XDeleteProperty(dpy, root, active);
        }
        XSync(dpy, False);
        const std::string what =
            stale == 0 ? "no active window" : "stale active window " + std::to_string(stale);
        selectInTerminal(what);
        selectInTk(what);
    }

    // The focus left on Tk while the user drags in the terminal: the gesture tells where the user selected.
    XSetInputFocus(dpy, tkId, RevertToPointerRoot, CurrentTime);
    XSync(dpy, False);
    selectInTerminal("focus on Tk");
    // The focus on the terminal while the user drags in Tk: the copy key stroke would reach the terminal, so
    // none is sent and Tk's selection cannot be read.
    XSetInputFocus(dpy, std::stoul(urxvtWindow), RevertToPointerRoot, CurrentTime);
    XSync(dpy, False);
    auto [x, y] = originOf(tkWindow());
    drag(x + 5, y + 8, x + 250, y + 8, true);
    expectNoEvent("a drag in Tk while the terminal has the keyboard");

    std::this_thread::sleep_for(kQuiet);
    std::ifstream keys(typed, std::ios::binary);
    const std::string received((std::istreambuf_iterator<char>(keys)), std::istreambuf_iterator<char>());
    EXPECT_EQ(received, "") << "keys reached the terminal";
    std::filesystem::remove_all(directory);
}

TEST_F(X11ServiceTest, MouseLocationIsXdotoolsPositionWithYFlipped) {
    int status = -1;
    std::istringstream geometry(runCommand({"xdotool", "getdisplaygeometry"}, env(), &status));
    ASSERT_EQ(status, 0);
    int width = 0, height = 0;
    geometry >> width >> height;
    ASSERT_GT(height, 0);
    for (auto [x, y] : {std::pair{321, 123}, std::pair{0, 0}, std::pair{width - 1, height - 1}}) {
        ASSERT_TRUE(xdotool({"mousemove", std::to_string(x), std::to_string(y)}));
        // Where xdotool says the pointer is, not only where it was asked to go.
        std::istringstream shell(runCommand({"xdotool", "getmouselocation", "--shell"}, env(), &status));
        ASSERT_EQ(status, 0);
        int seenX = -1, seenY = -1;
        for (std::string line; std::getline(shell, line);) {
            if (line.rfind("X=", 0) == 0) seenX = std::stoi(line.substr(2));
            if (line.rfind("Y=", 0) == 0) seenY = std::stoi(line.substr(2));
        }
        ASSERT_EQ(seenX, x);
        auto answer = json(helper_->request("MouseLocation"));
        ASSERT_TRUE(answer.is_object());
        EXPECT_EQ(answer["type"], "MouseLocation");
        EXPECT_EQ(answer["x"], static_cast<double>(seenX));
        EXPECT_EQ(answer["y"], static_cast<double>(height - seenY));
    }
}

TEST_F(X11ServiceTest, CopyPathReadsTkAndRestoresEveryClipboardTargetByteForByte) {
    std::string why;
    auto tk = TkTextWindow::start(server_->displayEnv(), "alpha beta", 50, 500, false, &why);
    ASSERT_TRUE(tk) << why;
    startMonitor();
    auto owner = x11::internal::Connection::open(display_);
    ASSERT_TRUE(owner);

    // An empty clipboard stays empty: the copied text must not be left in the user's clipboard. Tk keeps its
    // selection out of PRIMARY, so the text can only come through a simulated copy.
    XSetSelectionOwner(owner->get(), owner->atom("CLIPBOARD"), None, CurrentTime);
    XSync(owner->get(), False);
    drag(55, 508, 300, 508);
    expectOneEvent("drag in Tk over an empty clipboard");
    std::string left;
    EXPECT_TRUE(x11::testing::waitUntil([&] {
        left = clipboard("UTF8_STRING");
        return left != "alpha beta\n";
    })) << "the copied text stayed on the clipboard";
    EXPECT_TRUE(left.empty() || left == "<xclip failed>") << left;

    // The user's clipboard: an application offering text, HTML and an image too large for one request.
    std::string image(700 * 1024, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 131 + i / 1013);
    const std::vector<x11::internal::SelectionData> values = {
        {owner->atom("UTF8_STRING"), owner->atom("UTF8_STRING"), 8, "user text \xe2\x9c\x93"},
        {owner->atom("text/html"), owner->atom("text/html"), 8, "<b>user</b>"},
        {owner->atom("image/png"), owner->atom("image/png"), 8, image},
    };
    std::atomic<bool> done{false};
    std::atomic<int> owned{0};
    std::thread ownerThread([&] {
        x11::internal::SelectionServer server(*owner, owner->atom("CLIPBOARD"));
        if (image.size() <= server.incrementalThreshold()) {
            owned = -2;  // the image would not need INCR
            return;
        }
        owned = server.own(values) ? 1 : -1;
        while (!done) owner->waitFor([](const XEvent&) { return false; }, 5ms);
    });
    struct Join {
        std::atomic<bool>& done;
        std::thread& thread;
        ~Join() {
            done = true;
            thread.join();
        }
    } join{done, ownerThread};
    ASSERT_TRUE(x11::testing::waitUntil([&] { return owned != 0; }));
    ASSERT_EQ(owned, 1) << "-1: CLIPBOARD not owned, -2: the image is too small for INCR";

    auto restored = [&] {
        EXPECT_EQ(clipboard("UTF8_STRING"), "user text \xe2\x9c\x93");
        EXPECT_EQ(clipboard("text/html"), "<b>user</b>");
        const std::string png = clipboard("image/png");
        EXPECT_EQ(png.size(), image.size());
        EXPECT_TRUE(png == image) << "image/png differs";
        const std::string targets = clipboard("TARGETS");
        for (const char* target : {"UTF8_STRING", "text/html", "image/png"})
            EXPECT_NE(targets.find(target), std::string::npos) << target << " missing from " << targets;
    };
    // The helper puts the clipboard back right after it has announced or answered; wait for its new owner.
    auto waitForRestore = [&] {
        EXPECT_TRUE(x11::testing::waitUntil(
            [&] { return clipboard("TARGETS").find("image/png") != std::string::npos; }, 5000ms));
    };

    // Dragging past the end of the line selects its line break too.
    drag(55, 508, 300, 508);
    expectOneEvent("drag in Tk over a full clipboard");
    waitForRestore();
    restored();

    EXPECT_EQ(selectedText(), "alpha beta\n");
    waitForRestore();
    restored();

    // A busy application that copies 200 ms after the chord: the read has given up, and its late copy is put
    // back away (the helper takes the clipboard again and serves the user's contents).
    auto late = TkTextWindow::start(server_->displayEnv(), "late copy", 500, 500, false, &why, 200);
    ASSERT_TRUE(late) << why;
    drag(505, 508, 750, 508);
    expectNoEvent("a copy 200 ms late");
    EXPECT_TRUE(x11::testing::waitUntil([&] { return clipboard("UTF8_STRING") != "late copy\n"; }, 3000ms))
        << "the late copy stayed on the clipboard";
    waitForRestore();
    restored();

    // The user copies by hand right after the drag: whatever comes then is the user's, and stays.
    drag(505, 508, 750, 508);
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(xdotool({"key", "ctrl+c"}));
    EXPECT_TRUE(x11::testing::waitUntil([&] { return clipboard("UTF8_STRING") == "late copy\n"; }, 3000ms));
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(clipboard("UTF8_STRING"), "late copy\n") << "the user's own copy was undone";
}

TEST_F(X11ServiceTest, SelectedTextWhereNothingCopiesLeavesTheClipboardAlone) {
    auto owner = xclipOwn("clipboard", "keep me \xe2\x9c\x93");
    ASSERT_TRUE(owner);
    // No application has the keyboard: the copy key stroke reaches nobody.
    auto connection = x11::internal::Connection::open(display_);
    ASSERT_TRUE(connection);
    XSetInputFocus(connection->get(), PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(connection->get(), False);
    ASSERT_TRUE(xdotool({"mousemove", "1000", "900"}));

    EXPECT_EQ(selectedText(), "");
    EXPECT_EQ(clipboard("UTF8_STRING"), "keep me \xe2\x9c\x93");
}

TEST_F(X11ServiceTest, InsertTextLandsInTkAndStaysOnTheClipboard) {
    std::string why;
    auto tk = TkTextWindow::start(server_->displayEnv(), "start", 50, 500, false, &why);
    ASSERT_TRUE(tk) << why;
    ASSERT_TRUE(xdotool({"mousemove", "250", "600"}));

    const std::string text = " inserted \xc3\xa9";
    auto answer = helper_->request("InsertText", text);
    ASSERT_TRUE(answer);
    EXPECT_EQ(json(answer), nlohmann::json::parse(R"({"type":"InsertText","result":true})"));
    auto line = tk->output().until([](const std::string& l) { return l.rfind("text ", 0) == 0; });
    EXPECT_EQ(line.value_or("<nothing typed>"), "text start" + text);
    EXPECT_EQ(clipboard("UTF8_STRING"), text);
}

}  // namespace
