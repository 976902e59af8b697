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

AtspiSelection::Options options(std::string busAddress, std::string sessionBusAddress = "",
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
class AtspiSelectionTest : public ::x11::testing::XvfbTest {
  protected:
    void SetUp() override {
        XvfbTest::SetUp();
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

// A plain selection and a password field through the focus search are the service test's part; here the
// walk over the showing objects (for toolkits without the focus search), line breaks, and the empty cases.
TEST_F(AtspiSelectionTest, ReadsSelectionsByEitherSearchAndNothingOfAPasswordField) {
    AtspiSelection reader(options(""), onDisplay(*connection_));
    AtspiSelection walker(options("", "", false), onDisplay(*connection_));
    ASSERT_EQ(select(16, 25), "fox|jumps");
    EXPECT_EQ(readWhenRegistered(reader, "fox\njumps"), "fox\njumps");
    EXPECT_EQ(walker.selectedText(window_->pid()), "fox\njumps");

    // Focused text without a selection: no value, so the caller tries PRIMARY and the copy.
    select(3, 3);
    EXPECT_EQ(walker.selectedText(window_->pid()), std::nullopt);
    // GTK reports the new focus a moment after a programmatic focus change.
    ASSERT_EQ(window_->command("password"), "ok password");
    EXPECT_TRUE(waitUntil([&] { return walker.selectedText(window_->pid()).has_value(); }, 2s));
    EXPECT_EQ(walker.selectedText(window_->pid()), "");
    EXPECT_EQ(reader.selectedText(getpid()), std::nullopt);  // not on the bus
}

TEST_F(AtspiSelectionTest, FindsTheBusOnlyWhereOneRunsAndStartsNone) {
    std::string why;
    // A display without the AT_SPI_BUS property.
    auto bare = ::x11::testing::XvfbServer::start(&why);
    ASSERT_TRUE(bare) << why;
    auto bareConnection = Connection::open(bare->displayName());
    ASSERT_TRUE(bareConnection);
    ASSERT_EQ(select(10, 19), "brown fox");
    EXPECT_EQ(AtspiSelection(options(""), onDisplay(*bareConnection)).findBusAddress(), "");

    // The session bus knows the running launcher: the same bus as the shared display's property.
    AtspiSelection viaSession(options("", session_->address()), onDisplay(*bareConnection));
    AtspiSelection viaProperty(options(""), onDisplay(*connection_));
    ASSERT_TRUE(waitUntil([&] { return !viaProperty.findBusAddress().empty(); }, 10s));
    EXPECT_EQ(viaSession.findBusAddress(), viaProperty.findBusAddress());
    EXPECT_EQ(readWhenRegistered(viaSession, "brown fox"), "brown fox");

    // A session bus whose launcher never ran: no address, and asking did not start one.
    auto idle = GtkAccessibilitySession::start(bare->displayEnv(), &why);
    ASSERT_TRUE(idle) << why;
    EXPECT_EQ(AtspiSelection(options("", idle->address()), onDisplay(*bareConnection)).findBusAddress(), "");
    int status = -1;
    std::string owned =
        runCommand({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                    "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"},
                   {"DBUS_SESSION_BUS_ADDRESS=" + idle->address()}, &status);
    ASSERT_EQ(status, 0);
    EXPECT_NE(owned.find("boolean false"), std::string::npos) << owned;

    // An address given by the environment wins over everything else.
    AtspiSelection given(options("unix:path=/nonexistent/tandrel-bus"), onDisplay(*connection_));
    EXPECT_EQ(given.findBusAddress(), "unix:path=/nonexistent/tandrel-bus");
    EXPECT_EQ(given.selectedText(window_->pid()), std::nullopt);
}

}  // namespace
}  // namespace linuxdesktop
