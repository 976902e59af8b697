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

class AtspiSelectionTest : public ::x11::testing::XvfbTest {};

// A plain selection and a password field through the focus search are the service test's part, and finding
// the bus through the session bus the Wayland tests'. Here: the walk over the showing objects (for toolkits
// without the focus search), line breaks, the empty cases, and which bus is used.
TEST_F(AtspiSelectionTest, WalkReadsSelectionsButNoPasswordAndOnlyAnExistingBusIsUsed) {
    std::string why;
    auto* session = ::x11::testing::sharedGtkSession(&why);
    if (!session) GTEST_SKIP() << "no GTK accessibility session, AT-SPI test skipped: " << why;
    auto window = GtkTextWindow::start(session->clientEnv(), "The quick brown fox\njumps over", 60, 60, &why);
    ASSERT_TRUE(window) << why;
    AtspiSelection walker(options("", "", false), onDisplay(*connection_));
    ASSERT_EQ(window->command("select 16 25"), "ok select 16 25");
    ASSERT_EQ(window->selection(), "fox|jumps");
    // The client joins the bus asynchronously after it mapped its window: wait for its answer.
    EXPECT_TRUE(waitUntil([&] { return walker.selectedText(window->pid()) == "fox\njumps"; }, 10s));

    // Focused text without a selection: no value, so the caller tries PRIMARY and the copy.
    ASSERT_EQ(window->command("select 3 3"), "ok select 3 3");
    EXPECT_EQ(walker.selectedText(window->pid()), std::nullopt);
    // GTK reports the new focus a moment after a programmatic focus change.
    ASSERT_EQ(window->command("password"), "ok password");
    EXPECT_TRUE(waitUntil([&] { return walker.selectedText(window->pid()).has_value(); }, 2s));
    EXPECT_EQ(walker.selectedText(window->pid()), "");
    EXPECT_EQ(walker.selectedText(getpid()), std::nullopt);  // not on the bus

    // An address given by the environment wins over the display's.
    AtspiSelection given(options("unix:path=/nonexistent/tandrel-bus"), onDisplay(*connection_));
    EXPECT_EQ(given.findBusAddress(), "unix:path=/nonexistent/tandrel-bus");
    EXPECT_EQ(given.selectedText(window->pid()), std::nullopt);

    // A display without the AT_SPI_BUS property and a session bus whose launcher never ran: no address, and
    // asking did not start one.
    auto bare = ::x11::testing::XvfbServer::start(&why);
    ASSERT_TRUE(bare) << why;
    auto bareConnection = Connection::open(bare->displayName());
    ASSERT_TRUE(bareConnection);
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
}

}  // namespace
}  // namespace linuxdesktop
