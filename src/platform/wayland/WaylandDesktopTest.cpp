#include <gtest/gtest.h>

#include <xkbcommon/xkbcommon-keysyms.h>

#include "platform/MainQueueScheduler.h"
#include "platform/testing/PasteboardContract.h"
#include "platform/wayland/WaylandAccessibility.h"
#include "platform/wayland/WaylandEventTaps.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/wayland/internal/testing/CompositorTest.h"
#include "platform/wayland/internal/testing/GtkWaylandView.h"
#include "platform/wayland/internal/testing/SwayServer.h"
#include "platform/x11/internal/testing/GtkAccessibilitySession.h"

namespace platform::wayland {
namespace {

using namespace std::chrono_literals;
using ::wayland::internal::Selection;
using ::wayland::internal::WaylandDesktop;

// The backend's pasteboard for the shared pasteboard contract.
class WaylandPasteboardBackend {
  public:
    WaylandPasteboardBackend() {
        auto* sway =
            ::wayland::testing::sharedCompositor(::wayland::testing::Compositor::Kind::Sway, &reason_);
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

class WaylandDesktopTest : public ::wayland::testing::CompositorTest {
  protected:
    void SetUp() override {
        CompositorTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string why;
        desktop_ = WaylandDesktop::open(server_->socket(), &why);
        ASSERT_TRUE(desktop_) << why;
        ASSERT_TRUE(desktop_->keyboard()) << desktop_->keyboardMissing();
        pasteboard_ = std::make_unique<WaylandPasteboard>(*desktop_);
        keyboard_ = std::make_unique<WaylandKeyboard>(*desktop_, *pasteboard_);
    }
    void TearDown() override {
        keyboard_.reset();
        pasteboard_.reset();
        desktop_.reset();
        CompositorTest::TearDown();
    }

    void chord(std::uint16_t key) {
        KeyboardEvent down{key, true, kEventFlagMaskCommand};
        keyboard_->postEvent(EventTapLocation::HIDEventTap, down);
        keyboard_->postEvent(EventTapLocation::HIDEventTap, KeyboardEvent{key, false, kEventFlagMaskCommand});
    }

    std::unique_ptr<::wayland::testing::GtkWaylandView> gtk(const std::string& text) {
        std::string why;
        auto view = ::wayland::testing::GtkWaylandView::start(server_->env(), text, &why);
        EXPECT_TRUE(view) << why;
        return view;
    }

    std::unique_ptr<WaylandDesktop> desktop_;
    std::unique_ptr<WaylandPasteboard> pasteboard_;
    std::unique_ptr<WaylandKeyboard> keyboard_;
};

TEST_P(WaylandDesktopTest, InsertedTextLandsInGtkThroughTheClipboardAndThePasteChord) {
    auto view = gtk("|tail");
    ASSERT_TRUE(view);
    const auto primaryBefore = desktop_->dataControl().readText(Selection::Primary, 1s);
    // sway lists its windows to clients, KWin does not: there the frontmost application may be a terminal.
    const bool listsWindows = GetParam() == ::wayland::testing::Compositor::Kind::Sway;
    if (listsWindows) ASSERT_TRUE(pumpUntil([&] { return desktop_->frontmostIsTerminal() == false; }));
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
    ASSERT_TRUE(foot && static_cast<::wayland::testing::SwayServer*>(server_)->waitForWindow("app_id", "foot")) << "foot did not map a window";
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
INSTANTIATE_TEST_SUITE_P(, WaylandDesktopTest,
                         ::testing::Values(::wayland::testing::Compositor::Kind::Sway,
                                           ::wayland::testing::Compositor::Kind::KWin),
                         ::wayland::testing::compositorName);
INSTANTIATE_TEST_SUITE_P(, WaylandSwayDesktopTest, ::testing::Values(::wayland::testing::Compositor::Kind::Sway),
                         ::wayland::testing::compositorName);
INSTANTIATE_TEST_SUITE_P(, WaylandLostCompositorTest, ::testing::Values(::wayland::testing::Compositor::Kind::Sway),
                         ::wayland::testing::compositorName);

}  // namespace
}  // namespace platform::wayland
