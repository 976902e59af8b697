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
using ::x11::internal::WindowQueries;
using ::x11::testing::GtkTextWindow;
using ::x11::testing::waitUntil;

class AtspiSelectionTest : public ::x11::testing::XvfbTest {};

// A plain selection and a password field through the focus search are the service test's part, and finding
// the bus through the session bus the Wayland tests'. Here: the walk over the showing objects (for toolkits
// without the focus search), line breaks and the empty cases.
TEST_F(AtspiSelectionTest, WalkReadsSelectionsAcrossLinesButNothingOfAPasswordField) {
    std::string why;
    auto* session = ::x11::testing::sharedGtkSession(&why);
    if (!session) GTEST_SKIP() << "no GTK accessibility session, AT-SPI test skipped: " << why;
    auto window = GtkTextWindow::start(session->clientEnv(), "The quick brown fox\njumps over", 60, 60, &why);
    ASSERT_TRUE(window) << why;
    AtspiSelection::Options walk;
    walk.searchFocus = false;
    AtspiSelection walker(walk, [&] { return WindowQueries::atspiBusAddress(*connection_); });
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
}

}  // namespace
}  // namespace linuxdesktop
