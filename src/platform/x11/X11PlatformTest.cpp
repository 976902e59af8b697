// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/X11Platform.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iostream>
#include <thread>

#include "dispatch/RunLoop.h"
#include "platform/KeyboardEventSource.h"
#include "platform/x11/internal/SelectionServer.h"
#include "platform/x11/internal/testing/GtkAccessibilitySession.h"
#include "platform/x11/internal/testing/GtkTextWindow.h"
#include "platform/x11/internal/testing/TkTextWindow.h"
#include "platform/x11/internal/testing/XvfbTest.h"

// After the X headers: their status macro would hide AXError::Success.
#undef Success

namespace platform::x11 {
namespace {

using namespace std::chrono_literals;
using ::x11::testing::ChildProcess;
using ::x11::testing::TkTextWindow;

class X11PlatformTest : public ::x11::testing::XvfbTest {
  protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (IsSkipped()) return;
        std::string why;
        platform_ = createX11Platform(display_, &why);
        ASSERT_TRUE(platform_) << why;
    }
    void TearDown() override { platform_.reset(); }

    // Runs the main run loop until `condition` holds or `timeout` passes.
    bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5000ms) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            dispatch::RunLoop::main().runFor(5ms);
        }
        return true;
    }

    // What xclip reads from CLIPBOARD for a target, while the run loop serves this process's selections.
    std::string xclipRead(const std::string& target) {
        ChildProcess::Options options;
        options.env = env();
        options.captureStdout = true;
        auto child = ChildProcess::start({"xclip", "-o", "-selection", "clipboard", "-t", target}, options);
        std::string out;
        bool eof = false;
        pumpUntil(
            [&] {
                pollfd pfd{child->stdoutFd(), POLLIN, 0};
                while (poll(&pfd, 1, 0) > 0) {
                    char buffer[65536];
                    ssize_t n = read(child->stdoutFd(), buffer, sizeof buffer);
                    if (n <= 0) {
                        eof = true;
                        break;
                    }
                    out.append(buffer, static_cast<size_t>(n));
                }
                return eof;
            },
            10000ms);
        return out;
    }

    void postChord(uint16_t key) {
        KeyboardEventSource source(EventSourceStateID::CombinedSessionState);
        source.setLocalEventsFilterDuringSuppressionState(5, EventSuppressionState::SuppressionInterval);
        for (bool down : {true, false}) {
            auto event = source.createKeyboardEvent(key, down);
            event.flags = kEventFlagMaskCommand;
            platform_->keyboard().postEvent(EventTapLocation::HIDEventTap, event);
        }
    }

    std::optional<std::string> selectedTextOfFrontmost() {
        auto app = platform_->workspace().frontmostApplication();
        if (!app) return std::nullopt;
        AXValue focused;
        if (platform_->accessibility().createApplication(*app)->copyAttributeValue(
                kAXFocusedUIElementAttribute, focused) != AXError::Success)
            return std::nullopt;
        AXValue text;
        auto element = std::get<std::shared_ptr<AXUIElement>>(focused);
        if (element->copyAttributeValue(kAXSelectedTextAttribute, text) != AXError::Success)
            return std::nullopt;
        return std::get<std::string>(text);
    }

    std::unique_ptr<Platform> platform_;
};

struct Seen {
    EventType type;
    uint64_t flags;
    int64_t clicks;
};

TEST_F(X11PlatformTest, EventTapDeliversLeftGesturesWithClickCountsFlagsAndOnlyWhenEnabled) {
    std::vector<Seen> seen;
    EventMask mask = maskBit(EventType::LeftMouseDown) | maskBit(EventType::LeftMouseUp) |
                     maskBit(EventType::LeftMouseDragged);
    auto tap = platform_->eventTaps().createEventTap(
        EventTapLocation::SessionEventTap, EventTapPlacement::HeadInsert, EventTapOptions::Default, mask,
        [&](EventType type, const InputEvent& e) {
            seen.push_back({type, e.getFlags(), e.getIntegerValueField(EventField::MouseEventClickState)});
        });
    ASSERT_TRUE(tap);
    tap->addSourceToMainRunLoop();
    EXPECT_TRUE(tap->isEnabled());
    EXPECT_NE(tap->description().find("X11EventTap"), std::string::npos);
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
        if (s.type == EventType::LeftMouseDragged) dragged = true;
        EXPECT_NE(s.type, EventType::MouseMoved);  // not in the mask
    }
    ASSERT_EQ(presses.size(), 4u);  // the right click is not a left-button event
    EXPECT_EQ(presses[0].flags & kEventFlagMaskShift, kEventFlagMaskShift);
    EXPECT_EQ(presses[1].flags & kEventFlagMaskShift, 0u);
    EXPECT_EQ(releases[0].clicks, 1);
    EXPECT_EQ(releases[1].clicks, 1);
    EXPECT_EQ(releases[2].clicks, 2);
    EXPECT_EQ(releases[3].clicks, 1);
    EXPECT_TRUE(dragged);

    // Disabled: nothing arrives; enabled again: events flow.
    tap->setEnabled(false);
    seen.clear();
    ASSERT_TRUE(xdotool({"click", "1"}));
    dispatch::RunLoop::main().runFor(100ms);
    EXPECT_TRUE(seen.empty());
    tap->setEnabled(true);
    ASSERT_TRUE(xdotool({"click", "1"}));
    EXPECT_TRUE(pumpUntil([&] { return ups() == 1; }));

    // A callback may destroy its own tap.
    int calls = 0;
    std::unique_ptr<EventTap> selfDestroying;
    selfDestroying = platform_->eventTaps().createEventTap(
        EventTapLocation::SessionEventTap, EventTapPlacement::HeadInsert, EventTapOptions::Default, mask,
        [&](EventType, const InputEvent&) {
            ++calls;
            selfDestroying.reset();
        });
    ASSERT_TRUE(selfDestroying);
    selfDestroying->addSourceToMainRunLoop();
    ASSERT_TRUE(xdotool({"click", "1", "click", "1"}));
    EXPECT_TRUE(pumpUntil([&] { return ups() == 3; }));
    EXPECT_EQ(calls, 1);
}

TEST_F(X11PlatformTest, WithoutRecordAndXtestThereIsNoPermissionAndNoTap) {
    // This Xvfb drops XTEST together with RECORD: monitoring and synthesis are impossible there.
    std::string why;
    auto bare = ::x11::testing::XvfbServer::start(&why, {"-extension", "RECORD"});
    ASSERT_TRUE(bare) << why;
    auto platform = createX11Platform(bare->displayName(), &why);
    ASSERT_TRUE(platform) << why;
    EXPECT_FALSE(platform->accessibility().isProcessTrustedWithOptions(true));
    auto tap = platform->eventTaps().createEventTap(
        EventTapLocation::SessionEventTap, EventTapPlacement::HeadInsert, EventTapOptions::Default,
        maskBit(EventType::LeftMouseDown), [](EventType, const InputEvent&) {});
    EXPECT_FALSE(tap);
    platform.reset();
    // An unreachable display gives no platform at all, with the reason.
    why.clear();
    EXPECT_FALSE(createX11Platform(":4097", &why));
    EXPECT_NE(why.find(":4097"), std::string::npos) << why;
}

TEST_F(X11PlatformTest, SelectedTextIsTheFrontmostClientsPrimarySelectionOnly) {
    auto xterm = spawn(
        {"xterm", "-geometry", "60x5+100+100", "-e", "sh", "-c", "printf 'select me in xterm\\n'; sleep 60"});
    ASSERT_TRUE(xterm);
    ASSERT_TRUE(xdotool({"search", "--sync", "--onlyvisible", "--pid", std::to_string(xterm->pid())}));
    auto tap = platform_->eventTaps().createEventTap(
        EventTapLocation::SessionEventTap, EventTapPlacement::HeadInsert, EventTapOptions::Default,
        maskBit(EventType::LeftMouseUp), [](EventType, const InputEvent&) {});
    ASSERT_TRUE(tap);
    tap->addSourceToMainRunLoop();
    // Triple click: the whole line.
    ASSERT_TRUE(xdotool({"mousemove", "120", "108", "click", "--repeat", "3", "--delay", "50", "1"}));
    dispatch::RunLoop::main().runFor(20ms);
    auto app = platform_->workspace().frontmostApplication();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->processIdentifier, xterm->pid());
    EXPECT_EQ(app->localizedName, "XTerm");
    auto started = std::chrono::steady_clock::now();
    auto text = selectedTextOfFrontmost();
    auto elapsed = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(text);
    EXPECT_EQ(text->substr(0, 18), "select me in xterm");
    std::cout << "[ figure ] AXSelectedText through PRIMARY: "
              << std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() << " us\n";

    // A Tk text window that keeps its selection to itself: PRIMARY is still xterm's, so no text.
    std::string why;
    auto tk = TkTextWindow::start(server_->displayEnv(), "private words", 700, 100, true, &why);
    ASSERT_TRUE(tk) << why;
    ASSERT_TRUE(xdotool({"mousemove", "800", "200"}));
    app = platform_->workspace().frontmostApplication();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->processIdentifier, tk->pid());
    EXPECT_FALSE(selectedTextOfFrontmost());
}

TEST_F(X11PlatformTest, GtkSelectionComesFromTheAccessibilityBusWithoutAKeyStroke) {
    std::string why;
    auto* session = ::x11::testing::sharedGtkSession(&why);
    if (!session) GTEST_SKIP() << "no GTK accessibility session, AT-SPI test skipped: " << why;
    // The text view exports no PRIMARY: without the accessibility bus only a copy could read it.
    auto gtk =
        ::x11::testing::GtkTextWindow::start(session->clientEnv(), "drag across these words", 60, 60, &why);
    ASSERT_TRUE(gtk) << why;
    const auto& view = gtk->textView();
    const int y = view.y + 8;
    ASSERT_TRUE(
        xdotool({"mousemove", std::to_string(view.x + 3), std::to_string(y), "mousedown", "1", "sleep",
                 "0.05", "mousemove", std::to_string(view.x + 60), std::to_string(y), "sleep", "0.05",
                 "mousemove", std::to_string(view.x + 120), std::to_string(y), "mouseup", "1"}));
    const std::string dragged = gtk->selection().value_or("");
    ASSERT_FALSE(dragged.empty()) << "view at " << view.x << "," << view.y << " " << view.width << "x"
                                  << view.height;
    auto app = platform_->workspace().frontmostApplication();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->processIdentifier, gtk->pid());

    Pasteboard& pasteboard = platform_->generalPasteboard();
    const auto count = pasteboard.changeCount();
    std::optional<std::string> text;
    // The client joins the bus asynchronously after mapping its window.
    EXPECT_TRUE(pumpUntil([&] { return (text = selectedTextOfFrontmost()) == dragged; }, 10000ms))
        << text.value_or("(none)");
    auto started = std::chrono::steady_clock::now();
    text = selectedTextOfFrontmost();
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(text, dragged);
    std::cout << "[ figure ] AXSelectedText through AT-SPI: "
              << std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() << " us\n";

    // A password field answers the empty text: a value, so the caller never simulates a copy for it.
    // GTK reports the new focus a moment after a programmatic focus change.
    ASSERT_EQ(gtk->command("password"), "ok password");
    EXPECT_TRUE(pumpUntil([&] { return selectedTextOfFrontmost() == ""; }, 2000ms));
    dispatch::RunLoop::main().runFor(50ms);
    EXPECT_EQ(pasteboard.changeCount(), count);
    EXPECT_EQ(gtk->keyPresses(), 0);
}

TEST_F(X11PlatformTest, CopyPathReadsTheCopiedTextAndRestoresEveryTargetByteForByte) {
    // The user's clipboard: an application offering text, HTML and a large image.
    auto app = ::x11::internal::Connection::open(display_);
    ASSERT_TRUE(app);
    std::string big(600 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + i / 977);
    std::vector<::x11::internal::SelectionData> original = {
        {app->atom("UTF8_STRING"), app->atom("UTF8_STRING"), 8, "user text"},
        {app->atom("text/html"), app->atom("text/html"), 8, "<i>user</i>"},
        {app->atom("image/png"), app->atom("image/png"), 8, big},
    };
    std::atomic<bool> done{false};
    std::atomic<bool> owned{false};
    std::thread owner([&] {
        ::x11::internal::SelectionServer source(*app, app->atom("CLIPBOARD"));
        owned = source.own(original);
        while (!done) app->waitFor([](const XEvent&) { return false; }, 5ms);
    });
    ASSERT_TRUE(::x11::testing::waitUntil([&] { return owned.load(); }));

    std::string why;
    auto tk = TkTextWindow::start(server_->displayEnv(), "alpha beta", 50, 500, true, &why);
    ASSERT_TRUE(tk) << why;
    ASSERT_TRUE(xdotool({"mousemove", "250", "600"}));
    Pasteboard& pasteboard = platform_->generalPasteboard();

    // Save, as the service does before a simulated copy.
    auto count = pasteboard.changeCount();
    std::vector<PasteboardItem> saved;
    for (size_t i = 0; i < pasteboard.itemCount(); ++i) {
        PasteboardItem item;
        for (const auto& type : pasteboard.typesOfItem(i))
            if (auto data = pasteboard.dataForType(i, type)) item.setDataForType(*data, type);
        saved.push_back(item);
    }
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].types(),
              (std::vector<std::string>{"public.utf8-plain-text", "text/html", "image/png"}));

    postChord(kVK_ANSI_C);
    ASSERT_TRUE(pumpUntil([&] { return pasteboard.changeCount() != count; }, 2000ms));
    EXPECT_EQ(pasteboard.stringForType(0, kPasteboardTypeString).value_or(""), "alpha");
    done = true;
    owner.join();

    pasteboard.clearContents();
    ASSERT_TRUE(pasteboard.writeObjects(saved));
    EXPECT_EQ(xclipRead("UTF8_STRING"), "user text");
    EXPECT_EQ(xclipRead("text/html"), "<i>user</i>");
    EXPECT_EQ(xclipRead("image/png"), big);  // served through INCR
    std::string targets = xclipRead("TARGETS");
    EXPECT_NE(targets.find("image/png"), std::string::npos) << targets;

    // An application that ignores the chord: the count stays, the clipboard keeps what it had.
    tk.reset();
    auto xterm = spawn({"xterm", "-geometry", "40x5+700+600", "-e", "sh", "-c", "sleep 60"});
    ASSERT_TRUE(xdotool({"search", "--sync", "--onlyvisible", "--pid", std::to_string(xterm->pid())}));
    ASSERT_TRUE(xdotool({"mousemove", "800", "650"}));
    count = pasteboard.changeCount();
    postChord(kVK_ANSI_C);
    dispatch::RunLoop::main().runFor(50ms);
    EXPECT_EQ(pasteboard.changeCount(), count);
    EXPECT_EQ(xclipRead("text/html"), "<i>user</i>");
}

TEST_F(X11PlatformTest, InsertedTextIsPastedIntoTkAndStaysOnTheClipboard) {
    std::string why;
    auto tk = TkTextWindow::start(server_->displayEnv(), "start", 50, 500, false, &why);
    ASSERT_TRUE(tk) << why;
    ASSERT_TRUE(xdotool({"mousemove", "250", "600", "keydown", "shift"}));
    Pasteboard& pasteboard = platform_->generalPasteboard();
    auto before = pasteboard.changeCount();
    EXPECT_GT(pasteboard.declareTypes({std::string(kPasteboardTypeString)}), before);
    ASSERT_TRUE(pasteboard.setString(" inserted \xc3\xa9", kPasteboardTypeString));
    EXPECT_FALSE(pasteboard.setString("x", "text/html"));
    postChord(kVK_ANSI_V);
    std::optional<std::string> text;
    EXPECT_TRUE(pumpUntil([&] {
        text = tk->output().until([](const std::string& l) { return l.rfind("text ", 0) == 0; }, 1ms);
        return text && text->find("inserted") != std::string::npos;
    }));
    ASSERT_TRUE(xdotool({"keyup", "shift"}));
    EXPECT_EQ(text.value_or(""), "text start inserted \xc3\xa9");
    EXPECT_EQ(xclipRead("UTF8_STRING"), " inserted \xc3\xa9");
    EXPECT_EQ(pasteboard.stringForType(0, kPasteboardTypeString).value_or(""), " inserted \xc3\xa9");
}

TEST_F(X11PlatformTest, InsertedTextReachesATerminalThroughItsOwnPasteChord) {
    std::string file = "/tmp/tandrel-paste-" + std::to_string(getpid());
    std::remove(file.c_str());
    auto xterm = spawn({"xterm", "-geometry", "40x5+100+400", "-e", "sh", "-c",
                        "stty raw -echo; head -c 8 > " + file + "; sleep 60"});
    ASSERT_TRUE(xdotool({"search", "--sync", "--onlyvisible", "--pid", std::to_string(xterm->pid())}));
    ASSERT_TRUE(xdotool({"mousemove", "200", "430"}));
    Pasteboard& pasteboard = platform_->generalPasteboard();
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

TEST_F(X11PlatformTest, CursorsPointerAndPermission) {
    EXPECT_TRUE(platform_->accessibility().isProcessTrustedWithOptions(false));
    EXPECT_EQ(platform_->name(), "x11");
    ASSERT_TRUE(xdotool({"mousemove", "100", "200"}));
    EXPECT_EQ(platform_->pointer().mouseLocation(), (Point{100, 1024 - 200}));

    auto ibeams = platform_->cursors().standardIBeamCursors();
    ASSERT_FALSE(ibeams.empty());
    auto xterm = spawn({"xterm", "-geometry", "40x5+900+800", "-e", "sh", "-c", "sleep 60"});
    ASSERT_TRUE(xdotool({"search", "--sync", "--onlyvisible", "--pid", std::to_string(xterm->pid())}));
    ASSERT_TRUE(xdotool({"mousemove", "5", "5"}));
    dispatch::RunLoop::main().runFor(20ms);
    auto outside = platform_->cursors().currentCursorSerial();
    auto isIBeam = [&] {
        auto cursor = platform_->cursors().currentSystemCursor();
        if (!cursor) return false;
        for (const auto& ibeam : ibeams)
            if (ibeam.pixels == cursor->pixels) return true;
        return false;
    };
    EXPECT_FALSE(isIBeam());
    ASSERT_TRUE(xdotool({"mousemove", "1000", "830"}));
    EXPECT_TRUE(pumpUntil(isIBeam));
    EXPECT_NE(platform_->cursors().currentCursorSerial(), outside);
}

}  // namespace
}  // namespace platform::x11
