// End to end: the real tandrel-helper on a private Xvfb, real X clients (xterm, urxvt, Tk, xclip, openbox, a
// GTK 3 window on a private accessibility bus) driven through XTEST by xdotool, and clients on its socket.
// One helper serves a suite; every test connects a fresh client, so it starts with the monitor stopped.

// GoogleTest and JSON before the X headers: their macros (None, Bool, Status) clash with both.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "HelperTestSupport.h"
#include "platform/linux/AtspiSelection.h"
#include "platform/x11/internal/SelectionServer.h"
#include "platform/x11/internal/WindowQueries.h"

#include <X11/Xatom.h>
#include "platform/x11/internal/testing/GtkAccessibilitySession.h"
#include "platform/x11/internal/testing/GtkTextWindow.h"
#include "platform/x11/internal/testing/TkTextWindow.h"
#include "platform/x11/internal/testing/XvfbTest.h"

namespace {

using namespace std::chrono_literals;
using helper::testing::HelperClient;
using helper::testing::HelperSession;
using helper::testing::json;
using x11::internal::WindowQueries;
using x11::testing::GtkTextWindow;
using x11::testing::TkTextWindow;
using x11::testing::waitUntil;

constexpr const char* kEvent = helper::testing::kSelectionEvent;
constexpr auto kQuiet = helper::testing::kQuietWindow;
// Clicks closer than the desktop's double-click time (0.4 s here) would count as one multiple click.
constexpr auto kClickSeparation = 450ms;

// The terminal text, for printf.
constexpr const char* kTerminalText = "alpha bravo charlie\\ndelta echo foxtrot\\n";

class X11ServiceTest : public x11::testing::XvfbTest {
  protected:
    // A crash, a sanitizer report or a hang at exit shows here.
    static void TearDownTestSuite() {
        if (helper_) {
            EXPECT_EQ(helper_->stop(), 0) << "the helper did not end with status 0 on SIGTERM";
        }
        helper_.reset();
    }

    void SetUp() override {
        XvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!helper_) {
            std::string why;
            helper_ = HelperSession::start(helper::testing::helperUnderTest(), display_, &why);
            ASSERT_TRUE(helper_) << why;
        }
        ASSERT_TRUE(helper_->isRunning()) << "the helper died in an earlier test";
        ASSERT_TRUE(reconnect(*helper_));
    }

    // Later tests share the display: no window manager's properties or focus stay behind.
    void TearDown() override {
        if (helper_) helper_->disconnect();
        if (!connection_) return;
        for (const char* name : {"_NET_ACTIVE_WINDOW", "_NET_SUPPORTING_WM_CHECK"})
            XDeleteProperty(connection_->get(), connection_->root(), connection_->atom(name));
        focus(PointerRoot);
    }
    void focus(::Window window) {
        XSetInputFocus(connection_->get(), window, RevertToPointerRoot, CurrentTime);
        XSync(connection_->get(), False);
    }

    // A fresh connection, accepted once it answers.
    static bool reconnect(HelperClient& client) {
        if (!client.connect()) return false;
        auto answer = client.request("IsPermissionGranted");
        EXPECT_EQ(json(answer), R"({"type":"IsPermissionGranted","result":true})"_json);
        return answer.has_value();
    }

    void startMonitor() {
        EXPECT_EQ(json(helper_->request("StartMonitor")), R"({"type":"StartMonitor","result":true})"_json);
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
        std::vector<std::string> args = {
            "mousemove", std::to_string(x1), std::to_string(y1), "sleep", wait, "mousedown", "1"};
        for (auto [x, y] : {std::pair{(x1 + x2) / 2, (y1 + y2) / 2}, std::pair{x2, y2}})
            args.insert(args.end(), {"sleep", wait, "mousemove", std::to_string(x), std::to_string(y)});
        args.insert(args.end(), {"sleep", wait, "mouseup", "1"});
        gesture(args);
    }
    // The middle of a terminal cell (the 6x13 "fixed" font, 2-pixel border, at +100+100).
    static int column(int c) { return 100 + 2 + 6 * c + 3; }
    static int row(int r) { return 100 + 2 + 13 * r + 6; }
    void dragLine(int r) { drag(column(0), row(r), column(40), row(r)); }  // a whole line of the terminal
    void clicks(int x, int y, int count) {
        gesture({"mousemove", std::to_string(x), std::to_string(y), "click", "--repeat",
                 std::to_string(count), "--delay", "60", "1"});
    }

    // One "SelectionEvent", and no second one within a window longer than the helper's longest deferred read.
    void expectOneEvent(const std::string& what) {
        SCOPED_TRACE(what);
        auto event = helper_->waitFor(kEvent);
        ASSERT_TRUE(event) << "no SelectionEvent";
        EXPECT_EQ(json(event), R"({"type":"SelectionEvent"})"_json);
        EXPECT_FALSE(helper_->waitFor(kEvent, kQuiet)) << "a second SelectionEvent";
    }
    void expectNoEvent(const std::string& what) {
        EXPECT_FALSE(helper_->waitFor(kEvent, kQuiet)) << what << " was announced";
    }

    static std::unique_ptr<HelperSession> helper_;
    std::chrono::steady_clock::time_point lastGesture_{};
};

std::unique_ptr<HelperSession> X11ServiceTest::helper_;

// Each gesture is announced once although StartMonitor came twice. Then several clients on the real helper
// (their bookkeeping in every order is the service tests' part): events reach each client that asked and no
// other.
TEST_F(X11ServiceTest, XtermGesturesAreAnnouncedOnceToEveryWatchingClientAndTheirTextReadBack) {
    auto xterm = this->xterm("60x5+100+100", std::string("printf '") + kTerminalText + "'; sleep 600");
    ASSERT_TRUE(xterm) << "xterm cannot start";
    const std::string xtermWindow = findWindow({"--pid", std::to_string(xterm->pid())});
    startMonitor();
    startMonitor();

    // A drag from "bravo" past the end of the first line.
    drag(column(6), row(0), column(40), row(0));
    expectOneEvent("drag");
    EXPECT_EQ(selectedText(), "bravo charlie\n");

    // A drag over blank cells selects nothing, so xterm keeps offering its previous selection: that stale
    // text is no new selection. The clipboard's owner answers one request and then exits: a terminal's
    // selection is never copied, so the user's clipboard is not even read.
    auto owner = xclipOwn("untouched", 1);
    ASSERT_TRUE(owner);
    drag(column(5), row(3), column(30), row(3));
    expectNoEvent("a drag over blank cells");
    EXPECT_EQ(clipboard("UTF8_STRING"), "untouched") << "the helper read the clipboard for a terminal";

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
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", xtermWindow}));
    drag(700, 600, 900, 700);
    expectNoEvent("a drag over the root window");

    // Still monitoring: the quiet cases were not merely missed.
    HelperClient watcher, idle;
    ASSERT_TRUE(reconnect(watcher) && watcher.request("StartMonitor") && reconnect(idle));
    dragLine(1);
    expectOneEvent("drag after the quiet cases");
    EXPECT_EQ(selectedText(), "delta echo foxtrot\n");
    EXPECT_TRUE(waitUntil([&] { return watcher.count(kEvent) == 1; }));

    // The session's watching client goes away; its successor does not ask.
    ASSERT_TRUE(reconnect(*helper_));
    dragLine(0);
    EXPECT_TRUE(waitUntil([&] { return watcher.count(kEvent) == 2; })) << "the other watcher was silenced";
    expectNoEvent("a drag, to a client that never asked");
    EXPECT_EQ(idle.count(kEvent), 0u);
    EXPECT_EQ(watcher.count(kEvent), 2u);

    // SIGTERM ends the helper cleanly with its input recording running; the clients are told. The next test
    // starts a new helper.
    EXPECT_EQ(helper_->stop(), 0);
    EXPECT_TRUE(helper_->waitForError(xpc::ErrorCode::ConnectionInterrupted));
    EXPECT_TRUE(watcher.waitForError(xpc::ErrorCode::ConnectionInterrupted));
    helper_.reset();
}

// A window manager that ended leaves _NET_ACTIVE_WINDOW naming its last window; without a manager a click
// does not move the focus either. Selections in a terminal and in an application that needs the copy key
// stroke must still be read, and the key stroke must never be typed into the terminal (its shell reads raw
// bytes into a file, so any key that reaches it shows).
TEST_F(X11ServiceTest, StaleActiveWindowNeitherHidesSelectionsNorSendsTheCopyChordIntoATerminal) {
    auto windowManager = spawn({"openbox", "--sm-disable"});
    ASSERT_TRUE(windowManager) << "openbox cannot start";
    ASSERT_TRUE(waitUntil([&] { return WindowQueries::hasLiveWindowManager(*connection_); }));
    const std::string typed = "/tmp/tandrel-typed-" + std::to_string(getpid());
    auto urxvt = spawn({"urxvt", "+sb", "-fn", "fixed", "-geometry", "60x5+100+100", "-e", "sh", "-c",
                        std::string("printf '") + kTerminalText + "'; stty raw -echo; exec cat > " + typed});
    ASSERT_TRUE(urxvt) << "urxvt cannot start";
    const ::Window terminal = std::stoul(findWindow({"--pid", std::to_string(urxvt->pid())}));
    std::string why;
    auto tk = TkTextWindow::start(server_->displayEnv(), "alpha beta", 500, 500, false, &why);
    ASSERT_TRUE(tk) << why;
    const ::Window tkWindow = std::stoul(findWindow({"--name", "^tandrel-tk$"}));
    startMonitor();

    // A drag over the first word and past the end of the first line (the terminal's columns 6 to 40), in
    // Tk or in the terminal, wherever the window manager's frame put it.
    auto select = [&](::Window window, const std::string& what, bool readable = true) {
        const bool inTk = window == tkWindow;
        SCOPED_TRACE((inTk ? "Tk, " : "urxvt, ") + what);
        int x = -1, y = -1;
        ::Window child = None;
        XTranslateCoordinates(connection_->get(), window, connection_->root(), 0, 0, &x, &y, &child);
        drag(x + (inTk ? 5 : column(6) - 100), y + 8, x + (inTk ? 250 : column(40) - 100), y + 8, true);
        if (!readable) return expectNoEvent("a drag");
        expectOneEvent("drag");
        EXPECT_EQ(selectedText(), inTk ? "alpha beta\n" : "bravo charlie\n");
    };
    select(terminal, "openbox running");
    select(tkWindow, "openbox running");

    windowManager.reset();
    ASSERT_TRUE(waitUntil([&] { return !WindowQueries::hasLiveWindowManager(*connection_); }));
    for (const ::Window stale : {terminal, tkWindow}) {
        XChangeProperty(connection_->get(), connection_->root(), connection_->atom("_NET_ACTIVE_WINDOW"),
                        XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&stale), 1);
        const std::string what = "active window " + std::to_string(stale);
        select(terminal, what);
        select(tkWindow, what);
    }

    // The focus left on Tk while the user drags in the terminal: the gesture tells where the user selected.
    focus(tkWindow);
    select(terminal, "focus on Tk");
    // The focus on the terminal while the user drags in Tk: the copy key stroke would reach the terminal, so
    // none is sent and Tk's selection cannot be read.
    focus(terminal);
    select(tkWindow, "focus on the terminal", false);
    std::this_thread::sleep_for(kQuiet);
    std::ifstream keys(typed, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(keys), {}), "") << "keys reached the terminal";
    std::remove(typed.c_str());
}

TEST_F(X11ServiceTest, MouseLocationIsThePointerWithYFlipped) {
    for (auto [x, y] : {std::pair{321, 123}, std::pair{1279, 1023}}) {
        ASSERT_TRUE(xdotool({"mousemove", std::to_string(x), std::to_string(y)}));
        EXPECT_EQ(json(helper_->request("MouseLocation")),
                  (nlohmann::json{{"type", "MouseLocation"}, {"x", x}, {"y", 1024 - y}}));
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
    EXPECT_TRUE(waitUntil([&] { return (left = clipboard("UTF8_STRING")) != "alpha beta\n"; }))
        << "the copied text stayed on the clipboard";
    EXPECT_TRUE(left.empty() || left == "<xclip failed>") << left;

    // The user's clipboard: an application offering text, HTML and an image too large for one request.
    std::string image(700 * 1024, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 131 + i / 1013);
    const std::pair<const char*, std::string> offered[] = {
        {"UTF8_STRING", "user text \xe2\x9c\x93"}, {"text/html", "<b>user</b>"}, {"image/png", image}};
    std::vector<x11::internal::SelectionData> values;
    for (const auto& [name, bytes] : offered)
        values.push_back({owner->atom(name), owner->atom(name), 8, bytes});
    std::atomic<int> owned{0};
    std::jthread ownerThread([&](std::stop_token stop) {
        x11::internal::SelectionServer server(*owner, owner->atom("CLIPBOARD"));
        owned = image.size() <= server.incrementalThreshold() ? -2 : server.own(values) ? 1 : -1;
        while (owned == 1 && !stop.stop_requested()) owner->waitFor([](const XEvent&) { return false; }, 5ms);
    });
    ASSERT_TRUE(waitUntil([&] { return owned != 0; }));
    ASSERT_EQ(owned, 1) << "-1: CLIPBOARD not owned, -2: the image is too small for INCR";

    // The helper puts the clipboard back right after it has announced or answered: wait for its new owner.
    auto restored = [&](const std::string& what) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(waitUntil([&] { return clipboard("TARGETS").find("image/png") != std::string::npos; }));
        for (const auto& [name, bytes] : offered) EXPECT_TRUE(clipboard(name) == bytes) << name << " differs";
    };

    // Dragging past the end of the line selects its line break too.
    drag(55, 508, 300, 508);
    expectOneEvent("drag in Tk over a full clipboard");
    restored("after the event");
    EXPECT_EQ(selectedText(), "alpha beta\n");
    restored("after the answer");

    // A busy application that copies 200 ms after the chord: the read has given up, and its late copy is put
    // back away (the helper takes the clipboard again and serves the user's contents).
    auto late = TkTextWindow::start(server_->displayEnv(), "late copy", 500, 500, false, &why, 200);
    ASSERT_TRUE(late) << why;
    drag(505, 508, 750, 508);
    expectNoEvent("a copy 200 ms late");
    EXPECT_TRUE(waitUntil([&] { return clipboard("UTF8_STRING") != "late copy\n"; }, 3000ms))
        << "the late copy stayed on the clipboard";
    restored("after a late copy");

    // The user copies by hand right after the drag: whatever comes then is the user's, and stays.
    drag(505, 508, 750, 508);
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(xdotool({"key", "ctrl+c"}));
    EXPECT_TRUE(waitUntil([&] { return clipboard("UTF8_STRING") == "late copy\n"; }, 3000ms));
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(clipboard("UTF8_STRING"), "late copy\n") << "the user's own copy was undone";
}

TEST_F(X11ServiceTest, InsertTextLandsInTkAndStaysOnTheClipboard) {
    std::string why;
    auto tk = TkTextWindow::start(server_->displayEnv(), "start", 50, 500, false, &why);
    ASSERT_TRUE(tk) << why;
    ASSERT_TRUE(xdotool({"mousemove", "250", "600"}));

    const std::string text = " inserted \xc3\xa9";
    EXPECT_EQ(json(helper_->request("InsertText", text)), R"({"type":"InsertText","result":true})"_json);
    auto line = tk->output().until([](const std::string& l) { return l.rfind("text ", 0) == 0; });
    EXPECT_EQ(line.value_or("<nothing typed>"), "text start" + text);
    EXPECT_EQ(clipboard("UTF8_STRING"), text);
}

// The GTK text view keeps its selection out of PRIMARY, so without the accessibility bus only a simulated
// copy could read it: the test checks that none was sent.
class X11AtspiServiceTest : public X11ServiceTest {
  protected:
    void SetUp() override {
        std::string why;
        auto* session = x11::testing::sharedGtkSession(&why);
        if (!session) GTEST_SKIP() << "no GTK accessibility session, AT-SPI test skipped: " << why;
        // Before the helper starts: the first GTK client brings the accessibility bus up.
        gtk_ = GtkTextWindow::start(session->clientEnv(), "select these gtk words", 60, 60, &why);
        ASSERT_TRUE(gtk_) << why;
        X11ServiceTest::SetUp();
    }
    // A drag along a line of a widget, from 10 pixels in (past an entry's frame) to `to` pixels in.
    void drag(const GtkTextWindow::Geometry& widget, int y, int to) {
        X11ServiceTest::drag(widget.x + 10, widget.y + y, widget.x + to, widget.y + y, true);
    }

    std::unique_ptr<GtkTextWindow> gtk_;
};

TEST_F(X11AtspiServiceTest, GtkDragIsReadThroughTheBusAndAPasswordFieldIsNeverAnnouncedOrCopied) {
    auto user = xclipOwn("the user's clipboard");
    ASSERT_TRUE(user);
    startMonitor();
    // The client joins the bus a moment after its window maps: a drag before that would be read by a copy.
    // Wait until the bus answers for it, as the helper will.
    linuxdesktop::AtspiSelection bus(
        {}, [&] { return x11::internal::WindowQueries::atspiBusAddress(*connection_); });
    ASSERT_EQ(gtk_->command("select 0 6"), "ok select 0 6");
    ASSERT_TRUE(waitUntil([&] { return bus.selectedText(gtk_->pid()) == "select"; }, 10s))
        << "the GTK window never answered on the accessibility bus";
    ASSERT_EQ(gtk_->command("select 0 0"), "ok select 0 0");

    drag(gtk_->textView(), 8, 120);
    const std::string dragged = gtk_->selection().value_or("");
    ASSERT_FALSE(dragged.empty());
    expectOneEvent("drag in the GTK text view");
    EXPECT_EQ(selectedText(), dragged);
    EXPECT_EQ(gtk_->keyPresses(), 0) << "a copy key stroke reached the GTK window";
    EXPECT_EQ(clipboard("UTF8_STRING"), "the user's clipboard");

    // A drag across the password field: read as the empty text, so no event and no copy key stroke.
    drag(gtk_->passwordEntry(), gtk_->passwordEntry().height / 2, 100);
    EXPECT_EQ(gtk_->command("focus"), "focus password active");
    expectNoEvent("a password field selection");
    EXPECT_EQ(selectedText(), "");
    EXPECT_EQ(gtk_->keyPresses(), 0) << "a key stroke reached the password field";
    EXPECT_EQ(clipboard("UTF8_STRING"), "the user's clipboard");
}

}  // namespace
