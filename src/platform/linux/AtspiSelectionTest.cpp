// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/linux/AtspiSelection.h"

#include <unistd.h>

#include "platform/x11/internal/WindowQueries.h"
#include "platform/x11/internal/testing/GtkAccessibilitySession.h"
#include "platform/x11/internal/testing/GtkTextWindow.h"
#include "platform/x11/internal/testing/XvfbTest.h"

namespace linuxdesktop {
namespace {

using namespace std::chrono_literals;
using ::x11::internal::Connection;
using ::x11::internal::WindowQueries;
using ::x11::testing::GtkAccessibilitySession;
using ::x11::testing::GtkTextWindow;
using ::x11::testing::runCommand;
using ::x11::testing::waitUntil;

AtspiSelection::Options options(std::string busAddress, std::string sessionBusAddress,
                                bool searchFocus = true) {
    AtspiSelection::Options out;
    out.busAddress = std::move(busAddress);
    out.sessionBusAddress = std::move(sessionBusAddress);
    out.searchFocus = searchFocus;
    return out;
}

// The bus address a display advertises, as the X11 backend asks it.
std::function<std::string()> onDisplay(Connection& connection) {
    return [&connection] { return WindowQueries::atspiBusAddress(connection); };
}

constexpr const char* kText = "The quick brown fox\njumps over the lazy dog";

// A GTK window on the accessibility bus of the shared session, on the shared Xvfb.
class AtspiSelectionTest : public ::x11::testing::XvfbConnectionTest {
  protected:
    void SetUp() override {
        XvfbConnectionTest::SetUp();
        if (IsSkipped()) return;
        std::string why;
        session_ = ::x11::testing::sharedGtkSession(&why);
        if (!session_) GTEST_SKIP() << "no GTK accessibility session, AT-SPI test skipped: " << why;
        window_ = GtkTextWindow::start(session_->clientEnv(), kText, 60, 60, &why);
        ASSERT_TRUE(window_) << why;
    }

    // Selects characters `from` to `to` in the text view; the selection as GTK reports it.
    std::string select(int from, int to) {
        EXPECT_TRUE(window_->command("select " + std::to_string(from) + " " + std::to_string(to)));
        return window_->selection().value_or("?");
    }

    // The client joins the bus asynchronously after it mapped its window: wait for its answer.
    std::optional<std::string> readWhenRegistered(AtspiSelection& reader, const std::string& expected) {
        std::optional<std::string> text;
        waitUntil(
            [&] {
                text = reader.selectedText(window_->pid());
                return text == expected;
            },
            10s);
        return text;
    }

    GtkAccessibilitySession* session_ = nullptr;
    std::unique_ptr<GtkTextWindow> window_;
};

TEST_F(AtspiSelectionTest, ReadsTheFocusedSelectionAndNothingOfAPasswordField) {
    AtspiSelection reader(options("", ""), onDisplay(*connection_));
    // The launcher publishes its bus on the display once the GTK client asked for it.
    ASSERT_TRUE(waitUntil([&] { return !reader.findBusAddress().empty(); }, 10s));

    const std::string words = select(4, 15);
    ASSERT_EQ(words, "quick brown");
    EXPECT_EQ(readWhenRegistered(reader, words), words);
    // Across the line break, as the application has it.
    ASSERT_EQ(select(16, 25), "fox|jumps");
    EXPECT_EQ(reader.selectedText(window_->pid()), "fox\njumps");

    // The same through the walk over the showing objects (for toolkits without the focus search).
    AtspiSelection walker(options("", "", false), onDisplay(*connection_));
    EXPECT_EQ(walker.selectedText(window_->pid()), "fox\njumps");

    // Focused text without a selection: no value, so the caller tries PRIMARY and the copy.
    select(3, 3);
    EXPECT_EQ(reader.selectedText(window_->pid()), std::nullopt);
    EXPECT_EQ(walker.selectedText(window_->pid()), std::nullopt);

    // A password field: the empty text whatever it holds and selects, by either search. GTK reports the new
    // focus a moment after a programmatic focus change (a user's click comes long before the read).
    ASSERT_EQ(window_->command("password"), "ok password");
    EXPECT_TRUE(waitUntil([&] { return reader.selectedText(window_->pid()).has_value(); }, 2s));
    EXPECT_EQ(reader.selectedText(window_->pid()), "");
    EXPECT_EQ(walker.selectedText(window_->pid()), "");

    // Processes that are not on the bus.
    EXPECT_EQ(reader.selectedText(getpid()), std::nullopt);
    EXPECT_EQ(reader.selectedText(0), std::nullopt);
    EXPECT_EQ(window_->keyPresses(), 0);
}

TEST_F(AtspiSelectionTest, FindsTheBusOnlyWhereOneRunsAndStartsNone) {
    std::string why;
    // A display without the AT_SPI_BUS property.
    auto bare = ::x11::testing::XvfbServer::start(&why);
    ASSERT_TRUE(bare) << why;
    auto bareConnection = Connection::open(bare->displayName());
    ASSERT_TRUE(bareConnection);
    const std::string words = select(10, 19);
    ASSERT_EQ(words, "brown fox");

    AtspiSelection nothing(options("", ""), onDisplay(*bareConnection));
    EXPECT_EQ(nothing.findBusAddress(), "");
    EXPECT_EQ(nothing.selectedText(window_->pid()), std::nullopt);

    // The session bus knows the running launcher: the same bus as the shared display's property.
    AtspiSelection viaSession(options("", session_->address()), onDisplay(*bareConnection));
    AtspiSelection viaProperty(options("", ""), onDisplay(*connection_));
    ASSERT_TRUE(waitUntil([&] { return !viaProperty.findBusAddress().empty(); }, 10s));
    EXPECT_EQ(viaSession.findBusAddress(), viaProperty.findBusAddress());
    EXPECT_EQ(readWhenRegistered(viaSession, words), words);

    // A session bus whose launcher never ran: no address, and asking did not start one.
    auto idle = GtkAccessibilitySession::start(bare->displayEnv(), &why);
    ASSERT_TRUE(idle) << why;
    AtspiSelection viaIdle(options("", idle->address()), onDisplay(*bareConnection));
    EXPECT_EQ(viaIdle.findBusAddress(), "");
    int status = -1;
    std::string owned =
        runCommand({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                    "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"},
                   {"DBUS_SESSION_BUS_ADDRESS=" + idle->address()}, &status);
    ASSERT_EQ(status, 0);
    EXPECT_NE(owned.find("boolean false"), std::string::npos) << owned;
    EXPECT_EQ(viaIdle.selectedText(window_->pid()), std::nullopt);

    // An address given by the environment wins over everything else.
    AtspiSelection given(options("unix:path=/nonexistent/tandrel-bus", ""), onDisplay(*bareConnection));
    EXPECT_EQ(given.findBusAddress(), "unix:path=/nonexistent/tandrel-bus");
    EXPECT_EQ(given.selectedText(window_->pid()), std::nullopt);
}

}  // namespace
}  // namespace linuxdesktop
