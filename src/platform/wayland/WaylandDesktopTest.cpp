#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <tuple>

#include "dispatch/RunLoop.h"
#include "platform/MainQueueScheduler.h"
#include "platform/testing/PasteboardContract.h"
#include "platform/wayland/WaylandAccessibility.h"
#include "platform/wayland/WaylandEventTaps.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/wayland/internal/KWinCursorScript.h"
#include "platform/wayland/internal/PrimarySelectionWatcher.h"
#include "platform/wayland/internal/WaylandDesktop.h"
#include "platform/wayland/internal/testing/Compositor.h"
#include "platform/wayland/internal/testing/GtkWaylandView.h"
#include "platform/wayland/internal/testing/SwayServer.h"
#include "platform/x11/internal/testing/GtkAccessibilitySession.h"

namespace platform::wayland {
namespace {

using namespace std::chrono_literals;
using ::wayland::internal::DataControl;
using ::wayland::internal::Selection;
using ::wayland::internal::WaylandDesktop;
using ::wayland::testing::Compositor;
// The backend's pasteboard for the shared pasteboard contract.
class WaylandPasteboardBackend {
  public:
    WaylandPasteboardBackend() {
        auto* sway = ::wayland::testing::sharedCompositor(Compositor::Kind::Sway, &reason_);
        if (!sway) return;
        desktop_ = WaylandDesktop::open(sway->socket(), &reason_);
        if (desktop_) pasteboard_ = std::make_unique<WaylandPasteboard>(*desktop_);
    }
    Pasteboard& pasteboard() { return *pasteboard_; }
    std::string unavailableReason() const {
        return desktop_ ? std::string() : "no Wayland desktop: " + reason_;
    }

  private:
    std::string reason_;
    std::unique_ptr<WaylandDesktop> desktop_;
    std::unique_ptr<WaylandPasteboard> pasteboard_;
};

}  // namespace
}  // namespace platform::wayland

namespace platform::testing {
INSTANTIATE_TYPED_TEST_SUITE_P(Wayland, PasteboardContractTest, platform::wayland::WaylandPasteboardBackend);
}

namespace platform::wayland {
namespace {

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

    std::unique_ptr<x11::testing::ChildProcess> spawn(const std::vector<std::string>& argv, int stdinFd = -1,
                                                      bool captureStdout = false) const {
        x11::testing::ChildProcess::Options options;
        options.env = server_->env();
        options.stdinFd = stdinFd;
        options.captureStdout = captureStdout;
        return x11::testing::ChildProcess::start(argv, options);
    }
    // A wl-copy that serves `data` as `args` say until someone else takes the selection.
    std::unique_ptr<x11::testing::ChildProcess> wlCopy(std::vector<std::string> args,
                                                       const std::string& data) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
        args.insert(args.begin(), {"wl-copy", "--foreground"});
        auto child = spawn(args, fds[0]);
        close(fds[0]);
        for (std::size_t done = 0; done < data.size();) {
            ssize_t n = write(fds[1], data.data() + done, data.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(fds[1]);
        return child;
    }
    // Runs a peer (wl-paste) to its end while the run loop keeps serving; its standard output.
    std::string runPeer(const std::vector<std::string>& argv) {
        auto child = spawn(argv, -1, true);
        return child ? child->readOutput([] { dispatch::RunLoop::main().runFor(2ms); }) : "";
    }

    void chord(std::uint16_t key) {
        keyboard_->postEvent(EventTapLocation::HIDEventTap, KeyboardEvent{key, true, kEventFlagMaskCommand});
        keyboard_->postEvent(EventTapLocation::HIDEventTap, KeyboardEvent{key, false, kEventFlagMaskCommand});
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

TEST_P(WaylandDesktopTest, InsertedTextLandsInGtkThroughTheClipboardAndThePasteChord) {
    auto view = gtk("|tail");
    ASSERT_TRUE(view);
    const auto primaryBefore = desktop_->dataControl().readText(Selection::Primary, 1s);
    // sway lists its windows to clients, KWin does not: there the frontmost application may be a terminal.
    const bool listsWindows = GetParam() == Compositor::Kind::Sway;
    if (listsWindows) {
        ASSERT_TRUE(pumpUntil([&] { return desktop_->frontmostIsTerminal() == false; }));
    }
    pasteboard_->declareTypes({std::string(kPasteboardTypeString)});
    ASSERT_TRUE(pasteboard_->setString("inserted w\xC3\xB6rds", kPasteboardTypeString));
    chord(kVK_ANSI_V);
    EXPECT_TRUE(pumpUntil([&] { return view->text() == "inserted w\xC3\xB6rds|tail"; }, 5s)) << *view->text();
    if (listsWindows) {
        // GTK is no terminal (which would paste PRIMARY on the chord): the user's PRIMARY stays.
        EXPECT_FALSE(desktop_->dataControl().isOwn(Selection::Primary));
        EXPECT_EQ(desktop_->dataControl().readText(Selection::Primary, 1s), primaryBefore);
    } else {
        // A terminal would paste PRIMARY on the same chord: it holds the text too.
        EXPECT_TRUE(desktop_->dataControl().isOwn(Selection::Primary));
        EXPECT_EQ(desktop_->dataControl().readText(Selection::Primary, 1s), "inserted w\xC3\xB6rds");
    }
}

TEST_P(WaylandDesktopTest, ACopiedGtkClipboardComesBackByteExactWithEveryType) {
    std::string text;
    while (text.size() < (256 << 10)) text += "line \xE2\x82\xAC " + std::to_string(text.size()) + "|";
    auto view = gtk(text);
    ASSERT_TRUE(view);
    ASSERT_TRUE(view->command("select 0 " + std::to_string(1 << 20)));
    const auto before = pasteboard_->changeCount();
    chord(kVK_ANSI_C);
    ASSERT_TRUE(pumpUntil([&] { return pasteboard_->changeCount() != before; }, 5s)) << "GTK did not copy";

    // Saved as the pasteboard helper does: every type's data.
    PasteboardItem saved;
    const auto types = pasteboard_->typesOfItem(0);
    for (const auto& type : types) {
        SCOPED_TRACE(type);
        auto data = pasteboard_->dataForType(0, type);
        ASSERT_TRUE(data);
        saved.setDataForType(*data, type);
    }
    ASSERT_GE(types.size(), 3u);
    std::string expected = text;
    for (char& c : expected)
        if (c == '|') c = '\n';
    EXPECT_EQ(saved.stringForType(kPasteboardTypeString), expected);
    EXPECT_TRUE(saved.dataForType("application/x-gtk-text-buffer-rich-text")) << "GTK's binary type";

    auto intruder = wlCopy({}, "intruder");
    ASSERT_TRUE(
        pumpUntil([&] { return pasteboard_->stringForType(0, kPasteboardTypeString) == "intruder"; }));
    ASSERT_TRUE(pasteboard_->writeObjects({saved}));
    EXPECT_EQ(pasteboard_->typesOfItem(0), types);
    std::string listed;
    for (const auto& type : types)
        listed += (type == kPasteboardTypeString ? "text/plain;charset=utf-8" : type) + "\n";
    EXPECT_EQ(runPeer({"wl-paste", "--list-types"}).substr(0, listed.size()), listed);
    for (const auto& type : types) {
        SCOPED_TRACE(type);
        const std::string mime = type == kPasteboardTypeString ? "text/plain;charset=utf-8" : type;
        const Bytes& data = *saved.dataForType(type);
        EXPECT_TRUE(runPeer({"wl-paste", "--no-newline", "--type", mime}) ==
                    std::string(data.begin(), data.end()));
    }
}

// The activated window names the frontmost application, a terminal among them gets no copy chord, and the
// accessibility bus answers for the active GTK view (which does not export its selection) before PRIMARY.
// Cases that need sway: it lists its windows to clients.
using WaylandSwayDesktopTest = WaylandDesktopTest;
TEST_P(WaylandSwayDesktopTest, FrontmostWindowTerminalsAndTheAccessibilityBus) {
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
    auto other = wlCopy({"--primary"}, "someone else's");
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

    auto foot = spawn({"foot", "sh", "-c", "exec sleep 600"});
    ASSERT_TRUE(foot &&
                static_cast<::wayland::testing::SwayServer*>(server_)->waitForWindow("app_id", "foot"))
        << "foot did not map a window";
    ASSERT_TRUE(pumpUntil([&] { return workspace.frontmostApplication()->localizedName == "foot"; }));
    EXPECT_TRUE(keyboard_->copyChordWouldBeTyped());
    // GTK is no longer active: its selection is not the frontmost one, PRIMARY is.
    EXPECT_EQ(selected(), "someone else's");
}

// A compositor that goes away, as a lost display on X11: the tap disables itself once through its callback
// and cannot be enabled again, and the process is no longer trusted.
using WaylandLostCompositorTest = WaylandSwayDesktopTest;
TEST_P(WaylandLostCompositorTest, TheTapDisablesItselfOnceAndTrustEnds) {
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
// DataControl on its own, through the desktop's. Sway only: the peer (wl-copy) cannot set PRIMARY on
// KWin 5.27, whose data-control device sends no first primary_selection event, which wl-copy takes for no
// support. KWin's PRIMARY is read from GTK end to end.
class DataControlTest : public WaylandDesktopTest {
  protected:
    // Waits until a peer's offer of `type` is the selection.
    bool offered(Selection selection, const std::string& type) {
        return pumpUntil([&] {
            auto types = control().types(selection);
            return !control().isOwn(selection) && std::find(types.begin(), types.end(), type) != types.end();
        });
    }

    static std::string blob(std::size_t size) {
        std::mt19937 random(7);
        std::string data(size, '\0');
        for (auto& c : data) c = static_cast<char>(random());
        return data;
    }

    DataControl& control() { return desktop_->dataControl(); }
};

TEST_P(DataControlTest, ReadsPeersSelectionsAndServesItsOwnByteExact) {
    const std::string large = blob(3 << 20);
    auto blobOwner = wlCopy({"--type", "application/x-tandrel-blob"}, large);
    ASSERT_TRUE(offered(Selection::Clipboard, "application/x-tandrel-blob"));
    auto read = control().read(Selection::Clipboard, "application/x-tandrel-blob", 5s);
    ASSERT_TRUE(read);
    EXPECT_TRUE(std::string(read->begin(), read->end()) == large);
    EXPECT_FALSE(control().read(Selection::Clipboard, "text/plain", 1s)) << "a type not on offer";

    // An owner that never answers costs the timeout, not a hang.
    kill(blobOwner->pid(), SIGSTOP);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(control().read(Selection::Clipboard, "application/x-tandrel-blob", 300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    kill(blobOwner->pid(), SIGCONT);

    auto primaryOwner = wlCopy({"--primary"}, "selected words");
    ASSERT_TRUE(offered(Selection::Primary, "text/plain;charset=utf-8"));
    EXPECT_EQ(control().readText(Selection::Primary, 2s), "selected words");

    // Served back to a real reader: the types in order, every byte of each.
    const std::string text = "h\xc3\xa9llo\n";
    DataControl::Contents contents = {{"text/plain;charset=utf-8", platform::Bytes(text.begin(), text.end())},
                                      {"image/png", platform::Bytes(large.begin(), large.end())}};
    const auto serial = control().serial(Selection::Clipboard);
    ASSERT_TRUE(control().serve(Selection::Clipboard, contents));
    ASSERT_TRUE(pumpUntil([&] { return control().serial(Selection::Clipboard) != serial; }));
    EXPECT_TRUE(control().isOwn(Selection::Clipboard));
    EXPECT_EQ(runPeer({"wl-paste", "--list-types"}), "text/plain;charset=utf-8\nimage/png\n");
    EXPECT_EQ(runPeer({"wl-paste", "--no-newline", "--type", "text/plain;charset=utf-8"}), text);
    EXPECT_TRUE(runPeer({"wl-paste", "--no-newline", "--type", "image/png"}) == large);
    // Our own selection is answered from memory, never by waiting on ourselves.
    auto own = control().read(Selection::Clipboard, "image/png", 1s);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->size(), large.size());
    // PRIMARY is left as the peer set it.
    EXPECT_EQ(control().readText(Selection::Primary, 2s), "selected words");

    // Another client takes it: ours is gone, theirs is read.
    auto other = wlCopy({}, "taken over");
    ASSERT_TRUE(offered(Selection::Clipboard, "text/plain;charset=utf-8"));
    EXPECT_EQ(control().readText(Selection::Clipboard, 2s), "taken over");
}

TEST_P(DataControlTest, PrimaryIsAnnouncedOnceSettledIgnoringEmptyOwnAndRepeatedOffers) {
    platform::MainQueueScheduler scheduler;
    std::vector<std::string> announced;
    // A long settle time keeps the quick succession below within it even on a loaded machine.
    constexpr auto settle = 600ms;
    ::wayland::internal::PrimarySelectionWatcher watcher(
        control(), scheduler, [&](const std::string& text) { announced.push_back(text); }, settle);
    auto expectAnnounced = [&](std::vector<std::string> expected, const char* why) {
        SCOPED_TRACE(why);
        pumpUntil([&] { return announced.size() >= expected.size(); });
        pumpFor(settle + 300ms);
        EXPECT_EQ(announced, expected);
    };

    // A drag replaces PRIMARY at every step: only where it settles counts. Each step waits for the
    // previous one to arrive, so that they arrive in order.
    std::vector<std::unique_ptr<x11::testing::ChildProcess>> owners;
    for (const char* step : {"s", "sel", "selection"}) {
        const auto serial = control().serial(Selection::Primary);
        owners.push_back(wlCopy({"--primary"}, step));
        ASSERT_TRUE(pumpUntil([&] { return control().serial(Selection::Primary) != serial; }));
    }
    expectAnnounced({"selection"}, "a drag");

    owners.push_back(wlCopy({"--primary"}, "selection"));
    expectAnnounced({"selection"}, "the same text offered again");

    owners.push_back(wlCopy({"--primary", "--clear"}, ""));
    expectAnnounced({"selection"}, "PRIMARY emptied");

    const std::string mine = "served by us";
    control().serve(Selection::Primary,
                    {{"text/plain;charset=utf-8", platform::Bytes(mine.begin(), mine.end())}});
    expectAnnounced({"selection"}, "our own PRIMARY");

    owners.push_back(wlCopy({"--primary"}, "next words"));
    expectAnnounced({"selection", "next words"}, "a new selection");
}

TEST(KWinCursorScriptTest, AnswersWhereThePointerIsAndTheOriginOutputsHeightCallAfterCall) {
    std::string why;
    auto* kwin = ::wayland::testing::sharedCompositor(Compositor::Kind::KWin, &why);
    if (!kwin) GTEST_SKIP() << ::wayland::testing::cannotStart(Compositor::Kind::KWin, why);
    // The script talks to KWin's session bus.
    for (const auto& entry : kwin->helperEnv())
        setenv(entry.substr(0, entry.find('=')).c_str(), entry.substr(entry.find('=') + 1).c_str(), 1);
    auto script = ::wayland::internal::KWinCursorScript::create(&why);
    ASSERT_TRUE(script) << why;
    for (auto [x, y] : {std::pair{300, 200}, std::pair{1279, 799}, std::pair{0, 0}, std::pair{300, 200}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        kwin->pointer().moveTo(x, y);
        auto found = script->locate(2s, &why);
        ASSERT_TRUE(found) << why;
        EXPECT_EQ(std::tuple(found->x, found->y, found->primaryHeight), std::tuple(x, y, 800));
    }
}

INSTANTIATE_TEST_SUITE_P(, WaylandDesktopTest,
                         ::testing::Values(Compositor::Kind::Sway, Compositor::Kind::KWin),
                         ::wayland::testing::compositorName);
INSTANTIATE_TEST_SUITE_P(, WaylandSwayDesktopTest, ::testing::Values(Compositor::Kind::Sway),
                         ::wayland::testing::compositorName);
INSTANTIATE_TEST_SUITE_P(, WaylandLostCompositorTest, ::testing::Values(Compositor::Kind::Sway),
                         ::wayland::testing::compositorName);
INSTANTIATE_TEST_SUITE_P(, DataControlTest, ::testing::Values(Compositor::Kind::Sway),
                         ::wayland::testing::compositorName);

}  // namespace
}  // namespace platform::wayland
