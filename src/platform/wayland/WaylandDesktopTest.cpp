#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <functional>

#include "dispatch/RunLoop.h"
#include "platform/MainQueueScheduler.h"
#include "platform/wayland/WaylandAccessibility.h"
#include "platform/wayland/WaylandEventTaps.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/wayland/internal/PrimarySelectionWatcher.h"
#include "platform/wayland/internal/WaylandDesktop.h"
#include "platform/wayland/internal/testing/Compositor.h"
#include "platform/wayland/internal/testing/GtkWaylandView.h"
#include "platform/x11/internal/testing/GtkAccessibilitySession.h"

namespace platform::wayland {
namespace {

using namespace std::chrono_literals;
using ::wayland::internal::Selection;
using ::wayland::internal::WaylandDesktop;
using ::wayland::testing::Compositor;
// The compositor of the test's parameter (instantiate over Compositor::Kind values with `compositorName`),
// skipped with the reason when it cannot start, and the backend's desktop on it, whose connection the main
// run loop serves while a test pumps it.
class WaylandDesktopTest : public ::testing::TestWithParam<Compositor::Kind> {
  protected:
    void SetUp() override {
        std::string why;
        server_ = ::wayland::testing::sharedCompositor(GetParam(), &why);
        if (!server_) GTEST_SKIP() << ::wayland::testing::cannotStart(GetParam(), why);
        desktop_ = WaylandDesktop::open(server_->socket(), &why);
        ASSERT_TRUE(desktop_) << why;
        ASSERT_TRUE(desktop_->keyboard()) << desktop_->keyboardMissing();
        pasteboard_ = std::make_unique<WaylandPasteboard>(*desktop_);
        keyboard_ = std::make_unique<WaylandKeyboard>(*desktop_, *pasteboard_);
    }

    // Runs the main run loop until `condition` holds or `timeout` passes; whether it held.
    static bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
        return x11::testing::waitUntil([&] { return condition() || (pumpFor(2ms), condition()); }, timeout);
    }
    static void pumpFor(std::chrono::milliseconds duration) { dispatch::RunLoop::main().runFor(duration); }

    std::unique_ptr<x11::testing::ChildProcess> spawn(const std::vector<std::string>& argv,
                                                      bool captureStdout = false) const {
        x11::testing::ChildProcess::Options options;
        options.env = server_->env();
        options.captureStdout = captureStdout;
        return x11::testing::ChildProcess::start(argv, options);
    }
    // A wl-copy that serves `text` until someone else takes the selection (PRIMARY with `primary`).
    std::unique_ptr<x11::testing::ChildProcess> wlCopy(const std::string& text, bool primary = false) {
        return primary ? spawn({"wl-copy", "--foreground", "--primary", text})
                       : spawn({"wl-copy", "--foreground", text});
    }
    // Runs a peer (wl-paste) to its end while the run loop keeps serving; its standard output.
    std::string runPeer(const std::vector<std::string>& argv) {
        auto child = spawn(argv, true);
        return child ? child->readOutput([] { dispatch::RunLoop::main().runFor(2ms); }) : "";
    }

    std::unique_ptr<::wayland::testing::GtkWaylandView> gtk(const std::string& text) {
        std::string why;
        auto view = ::wayland::testing::GtkWaylandView::start(server_->env(), text, &why);
        EXPECT_TRUE(view) << why;
        return view;
    }

    Compositor* server_ = nullptr;
    std::unique_ptr<WaylandDesktop> desktop_;
    std::unique_ptr<WaylandPasteboard> pasteboard_;
    std::unique_ptr<WaylandKeyboard> keyboard_;
};

// GTK's copy of a large text, saved type by type as the copy path does, read back while another client
// owns the clipboard, then restored: other clients get every type, byte for byte.
TEST_P(WaylandDesktopTest, ACopiedGtkClipboardComesBackByteExactWithEveryType) {
    std::string text;
    while (text.size() < (256 << 10)) text += "line \xE2\x82\xAC " + std::to_string(text.size()) + "|";
    auto view = gtk(text);
    ASSERT_TRUE(view);
    ASSERT_TRUE(view->command("select 0 " + std::to_string(1 << 20)));
    const auto before = pasteboard_->changeCount();
    keyboard_->postEvent(EventTapLocation::HIDEventTap,
                         KeyboardEvent{kVK_ANSI_C, true, kEventFlagMaskCommand});
    keyboard_->postEvent(EventTapLocation::HIDEventTap,
                         KeyboardEvent{kVK_ANSI_C, false, kEventFlagMaskCommand});
    ASSERT_TRUE(pumpUntil([&] { return pasteboard_->changeCount() != before; }, 5s)) << "GTK did not copy";

    PasteboardItem saved;
    const auto types = pasteboard_->typesOfItem(0);
    for (const auto& type : types) {
        auto data = pasteboard_->dataForType(0, type);
        ASSERT_TRUE(data) << type;
        saved.setDataForType(*data, type);
    }
    ASSERT_TRUE(saved.dataForType("application/x-gtk-text-buffer-rich-text")) << "GTK's binary type";
    for (char& c : text)
        if (c == '|') c = '\n';
    EXPECT_EQ(saved.stringForType(kPasteboardTypeString), text);

    auto intruder = wlCopy("intruder");
    ASSERT_TRUE(
        pumpUntil([&] { return pasteboard_->stringForType(0, kPasteboardTypeString) == "intruder"; }));
    // An owner that never answers costs the bound, not a hang.
    kill(intruder->pid(), SIGSTOP);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(desktop_->dataControl().read(Selection::Clipboard, "text/plain;charset=utf-8", 300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    kill(intruder->pid(), SIGCONT);

    ASSERT_TRUE(pasteboard_->writeObjects({saved}));
    std::string listed;
    for (const auto& type : types) {
        const std::string mime = type == kPasteboardTypeString ? "text/plain;charset=utf-8" : type;
        listed += mime + "\n";
        const Bytes& data = *saved.dataForType(type);
        EXPECT_TRUE(runPeer({"wl-paste", "--no-newline", "--type", mime}) ==
                    std::string(data.begin(), data.end()))
            << type;
    }
    EXPECT_EQ(runPeer({"wl-paste", "--list-types"}).substr(0, listed.size()), listed);
}

// The activated window names the frontmost application, no terminal, and the accessibility bus answers for
// the active GTK view (which does not export its selection) before PRIMARY. Cases that need sway: it lists
// its windows to clients.
using WaylandSwayDesktopTest = WaylandDesktopTest;
TEST_P(WaylandSwayDesktopTest, FrontmostWindowAndTheAccessibilityBus) {
    std::string why;
    auto session =
        ::x11::testing::GtkAccessibilitySession::start("WAYLAND_DISPLAY=" + server_->socket(), &why);
    ASSERT_TRUE(session) << why;
    auto env = server_->env();
    for (const auto& e : session->clientEnv()) env.push_back(e);
    auto view = ::wayland::testing::GtkWaylandView::start(env, "alpha bravo charlie", &why);
    ASSERT_TRUE(view) << why;
    ASSERT_EQ(view->command("unexported"), "ok unexported");
    ASSERT_EQ(view->command("select 6 11"), "ok select 6 11");
    auto other = wlCopy("someone else's", true);
    ASSERT_TRUE(pumpUntil(
        [&] { return desktop_->dataControl().readText(Selection::Primary, 1s) == "someone else's"; }));

    WaylandWorkspace workspace(*desktop_);
    ::linuxdesktop::AtspiSelection::Options options;
    options.sessionBusAddress = session->address();
    WaylandAccessibility accessibility(*desktop_, options);
    std::string frontmost;
    auto selected = [&]() -> std::optional<std::string> {
        auto app = workspace.frontmostApplication();
        frontmost = app ? app->localizedName : "?";
        AXValue focused, text;
        if (!app || accessibility.createApplication(*app)->copyAttributeValue(kAXFocusedUIElementAttribute,
                                                                              focused) != AXError::Success)
            return std::nullopt;
        auto element = std::get<std::shared_ptr<AXUIElement>>(focused);
        if (element->copyAttributeValue(kAXSelectedTextAttribute, text) != AXError::Success)
            return std::nullopt;
        return std::get<std::string>(text);
    };
    // The view joins the bus a moment after it maps.
    EXPECT_TRUE(pumpUntil([&] { return selected() == "bravo"; }, 10s)) << selected().value_or("(none)");
    EXPECT_FALSE(frontmost.empty());
    EXPECT_FALSE(keyboard_->copyChordWouldBeTyped()) << frontmost;
}

// A compositor that goes away, as a lost display on X11: the tap disables itself once through its callback
// and cannot be enabled again, and the process is no longer trusted.
TEST_P(WaylandSwayDesktopTest, ALostCompositorDisablesTheTapOnceAndEndsTrust) {
    std::string why;
    auto sway = ::wayland::testing::Compositor::start(GetParam(), {}, &why);
    ASSERT_TRUE(sway) << why;
    auto desktop = WaylandDesktop::open(sway->socket(), &why);
    ASSERT_TRUE(desktop) << why;
    MainQueueScheduler scheduler;
    WaylandEventTaps taps(*desktop, scheduler);
    std::vector<EventType> seen;
    auto tap = taps.createEventTap(EventTapLocation::SessionEventTap, EventTapPlacement::HeadInsert,
                                   EventTapOptions::Default, maskBit(EventType::LeftMouseUp),
                                   [&](EventType type, const InputEvent&) { seen.push_back(type); });
    tap->addSourceToMainRunLoop();
    tap->setEnabled(true);
    WaylandAccessibility accessibility(*desktop);
    EXPECT_TRUE(accessibility.isProcessTrustedWithOptions(false));

    sway.reset();
    EXPECT_TRUE(pumpUntil([&] { return !seen.empty(); }));
    pumpFor(100ms);
    EXPECT_EQ(seen, std::vector<EventType>{EventType::TapDisabledByTimeout});
    tap->setEnabled(true);
    EXPECT_FALSE(tap->isEnabled());
    EXPECT_FALSE(accessibility.isProcessTrustedWithOptions(false));
}

// PRIMARY is announced once it has settled, and only with new text: not for each step of a drag, the same
// text offered again, PRIMARY emptied or our own PRIMARY.
TEST_P(WaylandSwayDesktopTest, PrimaryIsAnnouncedOnceSettledIgnoringEmptyOwnAndRepeatedOffers) {
    auto& control = desktop_->dataControl();
    MainQueueScheduler scheduler;
    std::vector<std::string> announced;
    // A long settle time keeps the quick succession below within it even on a loaded machine.
    constexpr auto settle = 600ms;
    ::wayland::internal::PrimarySelectionWatcher watcher(
        control, scheduler, [&](const std::string& text) { announced.push_back(text); }, settle);
    auto expectAnnounced = [&](std::vector<std::string> expected, const char* why) {
        SCOPED_TRACE(why);
        pumpUntil([&] { return announced.size() >= expected.size(); });
        pumpFor(settle + 300ms);
        EXPECT_EQ(announced, expected);
    };

    // Each step of the drag waits for the previous one to arrive, so that they arrive in order.
    std::vector<std::unique_ptr<x11::testing::ChildProcess>> owners;
    for (const char* step : {"s", "sel", "selection"}) {
        const auto serial = control.serial(Selection::Primary);
        owners.push_back(wlCopy(step, true));
        ASSERT_TRUE(pumpUntil([&] { return control.serial(Selection::Primary) != serial; }));
    }
    expectAnnounced({"selection"}, "a drag");
    owners.push_back(wlCopy("selection", true));
    expectAnnounced({"selection"}, "the same text offered again");
    owners.push_back(spawn({"wl-copy", "--primary", "--clear"}));
    expectAnnounced({"selection"}, "PRIMARY emptied");
    const std::string mine = "served by us";
    control.serve(Selection::Primary, {{"text/plain;charset=utf-8", Bytes(mine.begin(), mine.end())}});
    expectAnnounced({"selection"}, "our own PRIMARY");
    owners.push_back(wlCopy("next words", true));
    expectAnnounced({"selection", "next words"}, "a new selection");
}

INSTANTIATE_TEST_SUITE_P(, WaylandDesktopTest,
                         ::testing::Values(Compositor::Kind::Sway, Compositor::Kind::KWin),
                         ::wayland::testing::compositorName);
INSTANTIATE_TEST_SUITE_P(, WaylandSwayDesktopTest, ::testing::Values(Compositor::Kind::Sway),
                         ::wayland::testing::compositorName);

}  // namespace
}  // namespace platform::wayland
