// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/WindowQueries.h"

#include <X11/Xatom.h>

#include "platform/x11/internal/Capabilities.h"
#include "platform/x11/internal/PointerLocator.h"
#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

using namespace std::chrono_literals;
using x11::testing::waitUntil;

class WindowQueriesTest : public x11::testing::XvfbTest {};

TEST_F(WindowQueriesTest, ActiveWindowFallsBackFromManagerToFocusToPointer) {
    x11::testing::TestWindow a(display_, 700, 100, 100, 100);
    x11::testing::TestWindow b(display_, 900, 100, 100, 100);
    a.pointAt();
    XSetInputFocus(connection_->get(), PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(connection_->get(), False);
    EXPECT_EQ(WindowQueries::activeWindow(*connection_), a.window());
    XSetInputFocus(connection_->get(), b.window(), RevertToPointerRoot, CurrentTime);
    XSync(connection_->get(), False);
    EXPECT_EQ(WindowQueries::activeWindow(*connection_), b.window());
    // A live window manager's word wins; once its check window is gone, the word it left is stale.
    ::Display* dpy = connection_->get();
    auto setWindow = [&](::Window on, const char* name, ::Window value) {
        long data = static_cast<long>(value);
        XChangeProperty(dpy, on, connection_->atom(name), XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&data), 1);
        XSync(dpy, False);
    };
    setWindow(connection_->root(), "_NET_ACTIVE_WINDOW", a.window());
    EXPECT_EQ(WindowQueries::activeWindow(*connection_), b.window()) << "trusted without a manager";
    ::Window check = XCreateSimpleWindow(dpy, connection_->root(), 0, 0, 1, 1, 0, 0, 0);
    setWindow(connection_->root(), "_NET_SUPPORTING_WM_CHECK", check);
    setWindow(check, "_NET_SUPPORTING_WM_CHECK", b.window());
    EXPECT_EQ(WindowQueries::activeWindow(*connection_), b.window()) << "a check window that names another";
    setWindow(check, "_NET_SUPPORTING_WM_CHECK", check);
    EXPECT_TRUE(WindowQueries::hasLiveWindowManager(*connection_));
    EXPECT_EQ(WindowQueries::activeWindow(*connection_), a.window());
    XDestroyWindow(dpy, check);
    XSync(dpy, False);
    EXPECT_FALSE(WindowQueries::hasLiveWindowManager(*connection_));
    EXPECT_EQ(WindowQueries::activeWindow(*connection_), b.window());
    XDeleteProperty(dpy, connection_->root(), connection_->atom("_NET_ACTIVE_WINDOW"));
    XDeleteProperty(dpy, connection_->root(), connection_->atom("_NET_SUPPORTING_WM_CHECK"));
    XSetInputFocus(connection_->get(), PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(connection_->get(), False);

    // Same client: windows of one connection; other connections differ.
    ::Window sibling = XCreateSimpleWindow(a.dpy(), a.connection().root(), 0, 0, 1, 1, 0, 0, 0);
    XSync(a.dpy(), False);
    EXPECT_TRUE(WindowQueries::sameClient(*connection_, a.window(), sibling));
    EXPECT_FALSE(WindowQueries::sameClient(*connection_, a.window(), b.window()));
    EXPECT_FALSE(WindowQueries::sameClient(*connection_, a.window(), None));
}

TEST(WindowClassTest, TerminalNames) {
    using Class = WindowQueries::WindowClass;
    for (const Class& cls : {Class{"gnome-terminal-server", "Gnome-terminal"}, Class{"kitty", "kitty"},
                             Class{"urxvt", "URxvt"}, Class{"myterm", "Myterm"}})
        EXPECT_TRUE(WindowQueries::isTerminal(cls)) << cls.className;
    for (const Class& cls : {Class{"firefox", "firefox"}, Class{"wish", "Wish"},
                             Class{"thermostat", "Thermostat"}, Class{"", ""}})
        EXPECT_FALSE(WindowQueries::isTerminal(cls)) << cls.className;
}

TEST_F(WindowQueriesTest, PointerLocationIsFlippedAgainstTheReferenceMonitorAndExtensionsArePresent) {
    ASSERT_TRUE(xdotool({"mousemove", "100", "200"}));
    auto location = PointerLocator::location(*connection_);
    ASSERT_TRUE(location);
    EXPECT_EQ(location->first, 100);
    EXPECT_EQ(location->second, 1024 - 200);
    auto caps = Capabilities::probe(*connection_);
    EXPECT_TRUE(caps.sufficient()) << caps.missing();
    EXPECT_TRUE(caps.record && caps.xinput2 && caps.xres && caps.randr);
    EXPECT_EQ(caps.missing(), "");
    EXPECT_EQ(Capabilities{}.missing(), "RECORD or XInputExtension 2, XTEST, XFIXES");
}

TEST(PointerLocatorTest, ReferenceMonitorIsPrimaryElseOriginElseFirst) {
    MonitorRect screen{0, 0, 3000, 1000, false};
    MonitorRect left{0, 0, 1000, 800, false}, right{1000, 0, 2000, 1000, false},
        shifted{200, 100, 500, 500, false};
    MonitorRect primaryRight = right;
    primaryRight.primary = true;
    EXPECT_EQ(PointerLocator::reference({left, primaryRight}, screen).x, 1000);
    EXPECT_EQ(PointerLocator::reference({right, left}, screen).x, 0);
    EXPECT_EQ(PointerLocator::reference({shifted, right}, screen).x, 200);
    EXPECT_EQ(PointerLocator::reference({}, screen).width, 3000);
}

}  // namespace
}  // namespace x11::internal
