#include <gtest/gtest.h>

#include <xkbcommon/xkbcommon-keysyms.h>

#include "platform/testing/PasteboardContract.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/internal/testing/CompositorTest.h"
#include "platform/wayland/internal/testing/GtkWaylandView.h"

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
    pasteboard_->declareTypes({std::string(kPasteboardTypeString)});
    ASSERT_TRUE(pasteboard_->setString("inserted w\xC3\xB6rds", kPasteboardTypeString));
    chord(kVK_ANSI_V);
    EXPECT_TRUE(pumpUntil([&] { return view->text() == "inserted w\xC3\xB6rds|tail"; }, 5s)) << *view->text();
    // Terminals paste PRIMARY on the same chord: it holds the text too.
    EXPECT_TRUE(desktop_->dataControl().isOwn(Selection::Primary));
    EXPECT_EQ(desktop_->dataControl().readText(Selection::Primary, 1s), "inserted w\xC3\xB6rds");
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

INSTANTIATE_TEST_SUITE_P(, WaylandDesktopTest,
                         ::testing::Values(::wayland::testing::Compositor::Kind::Sway,
                                           ::wayland::testing::Compositor::Kind::KWin),
                         ::wayland::testing::compositorName);

}  // namespace
}  // namespace platform::wayland
