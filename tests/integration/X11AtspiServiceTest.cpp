// End to end through the accessibility bus: the real tandrel-helper on a private Xvfb and a real GTK 3 window
// on a private session bus with its accessibility bus, driven through XTEST by xdotool. The GTK text view
// keeps its selection out of PRIMARY, so without the accessibility bus only a simulated copy could read it:
// the test checks that none was sent. Skipped, with the reason, when Xvfb or the GTK/accessibility packages
// are missing.

// GoogleTest and JSON before the X headers: their macros (None, Bool, Status) clash with both.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "HelperTestSupport.h"
#include "platform/linux/AtspiSelection.h"
#include "platform/x11/internal/WindowQueries.h"
#include "platform/x11/internal/testing/GtkAccessibilitySession.h"
#include "platform/x11/internal/testing/GtkTextWindow.h"
#include "platform/x11/internal/testing/XvfbTest.h"

namespace {

using namespace std::chrono_literals;
using helper::testing::HelperSession;
using helper::testing::json;
using x11::testing::GtkTextWindow;
using x11::testing::runCommand;

constexpr const char* kEvent = helper::testing::kSelectionEvent;
constexpr auto kQuiet = helper::testing::kQuietWindow;

class X11AtspiServiceTest : public x11::testing::XvfbTest {
  protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (IsSkipped()) return;
        std::string why;
        auto* session = x11::testing::sharedGtkSession(&why);
        if (!session) GTEST_SKIP() << "no GTK accessibility session, AT-SPI test skipped: " << why;
        gtk_ = GtkTextWindow::start(session->clientEnv(), "select these gtk words", 60, 60, &why);
        ASSERT_TRUE(gtk_) << why;
        helper_ = HelperSession::start(helper::testing::helperUnderTest(), display_, &why);
        ASSERT_TRUE(helper_) << why;
        auto answer = helper_->request("StartMonitor");
        ASSERT_TRUE(answer) << "no answer from the helper";
        ASSERT_EQ(json(answer), nlohmann::json::parse(R"({"type":"StartMonitor","result":true})"));
    }

    std::string selectedText() {
        auto answer = json(helper_->request("SelectedText"));
        if (!answer.is_object() || !answer.contains("content")) return "<no answer>";
        return answer["content"].get<std::string>();
    }

    // A drag along a line of a widget, from 10 pixels in (past an entry's frame) to `to` pixels in.
    void drag(const GtkTextWindow::Geometry& widget, int y, int to) {
        std::this_thread::sleep_for(450ms);  // apart from the previous gesture: no double click
        const std::string row = std::to_string(widget.y + y);
        ASSERT_TRUE(xdotool({"mousemove", std::to_string(widget.x + 10), row, "mousedown", "1", "sleep",
                             "0.05", "mousemove", std::to_string(widget.x + to / 2), row, "sleep", "0.05",
                             "mousemove", std::to_string(widget.x + to), row, "mouseup", "1"}));
    }

    std::string clipboard() {
        int status = -1;
        auto out = runCommand({"xclip", "-o", "-selection", "clipboard"}, env(), &status);
        return status == 0 ? out : "<xclip failed>";
    }

    std::unique_ptr<GtkTextWindow> gtk_;
    std::unique_ptr<HelperSession> helper_;
};

TEST_F(X11AtspiServiceTest, GtkDragIsReadThroughTheBusAndAPasswordFieldIsNeverAnnouncedOrCopied) {
    auto user = xclipOwn("clipboard", "the user's clipboard");
    ASSERT_TRUE(user);

    // The client joins the bus a moment after its window maps: a drag before that would be read by a copy.
    // Wait until the bus answers for it, as the helper will.
    auto connection = x11::internal::Connection::open(display_);
    ASSERT_TRUE(connection);
    linuxdesktop::AtspiSelection bus(
        {}, [&] { return x11::internal::WindowQueries::atspiBusAddress(*connection); });
    ASSERT_EQ(gtk_->command("select 0 6"), "ok select 0 6");
    ASSERT_TRUE(x11::testing::waitUntil([&] { return bus.selectedText(gtk_->pid()) == "select"; }, 10s))
        << "the GTK window never answered on the accessibility bus";
    ASSERT_EQ(gtk_->command("select 0 0"), "ok select 0 0");

    drag(gtk_->textView(), 8, 120);
    const std::string dragged = gtk_->selection().value_or("");
    ASSERT_FALSE(dragged.empty());
    auto event = helper_->waitFor(kEvent);
    ASSERT_TRUE(event) << "no SelectionEvent for a drag in the GTK text view";
    EXPECT_EQ(json(event), nlohmann::json::parse(R"({"type":"SelectionEvent"})"));
    EXPECT_FALSE(helper_->waitFor(kEvent, kQuiet)) << "a second SelectionEvent";
    EXPECT_EQ(selectedText(), dragged);
    EXPECT_EQ(gtk_->keyPresses(), 0) << "a copy key stroke reached the GTK window";
    EXPECT_EQ(clipboard(), "the user's clipboard");

    // A drag across the password field: read as the empty text, so no event and no copy key stroke.
    drag(gtk_->passwordEntry(), gtk_->passwordEntry().height / 2, 100);
    EXPECT_EQ(gtk_->command("focus"), "focus password active");
    EXPECT_FALSE(helper_->waitFor(kEvent, kQuiet)) << "a password field selection was announced";
    EXPECT_EQ(selectedText(), "");
    EXPECT_EQ(gtk_->keyPresses(), 0) << "a key stroke reached the password field";
    EXPECT_EQ(clipboard(), "the user's clipboard");

    // Connected to the bus, the helper still ends cleanly (no crash, hang or sanitizer report at exit).
    EXPECT_EQ(helper_->stop(), 0);
}

}  // namespace
