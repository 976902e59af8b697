// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/WindowQueries.h"

#include <X11/Xatom.h>

#include "platform/x11/internal/Capabilities.h"
#include "platform/x11/internal/PointerLocator.h"
#include "platform/x11/internal/SelectionOwnerWatcher.h"
#include "platform/x11/internal/SelectionReader.h"
#include "platform/x11/internal/testing/TestWindow.h"
#include "platform/x11/internal/testing/TkTextWindow.h"
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

TEST_F(WindowQueriesTest, XtermIsATerminalOwningItsPrimarySelectionAndTkIsNot) {
    auto xterm = this->xterm("60x5+100+100", "printf 'hello world from xterm\\n'; sleep 60");
    ASSERT_TRUE(xterm);
    ASSERT_TRUE(xdotool({"mousemove", "110", "110"}));
    ::Window active = WindowQueries::activeWindow(*connection_);
    auto cls = WindowQueries::classOf(*connection_, active);
    ASSERT_TRUE(cls);
    EXPECT_EQ(cls->className, "XTerm");
    EXPECT_TRUE(WindowQueries::isTerminal(*cls));
    EXPECT_EQ(WindowQueries::pidOf(*connection_, active).value_or(0), xterm->pid());

    // Select the line by dragging; the owner of PRIMARY is the active window's client, and the text reads
    // back.
    SelectionOwnerWatcher watcher(*connection_, {XA_PRIMARY});
    SelectionReader reader(*connection_);
    ::Time since = connection_->serverTime(reader.window());
    ASSERT_TRUE(xdotool({"mousemove", "104", "108", "mousedown", "1", "mousemove", "200", "108", "mousemove",
                         "460", "108", "mouseup", "1"}));
    ASSERT_TRUE(watcher.waitForOwnerSince(XA_PRIMARY, since, 1000ms));
    EXPECT_EQ(reader.readText(XA_PRIMARY, 200ms).value_or("").substr(0, 22), "hello world from xterm");
    EXPECT_TRUE(WindowQueries::sameClient(*connection_, watcher.state(XA_PRIMARY).owner,
                                          WindowQueries::activeWindow(*connection_)));

    std::string why;
    auto tk = x11::testing::TkTextWindow::start(server_->displayEnv(), "tk", 600, 500, false, &why);
    ASSERT_TRUE(tk) << why;
    ASSERT_TRUE(xdotool({"mousemove", "700", "600"}));
    auto tkClass = WindowQueries::classOf(*connection_, WindowQueries::activeWindow(*connection_));
    ASSERT_TRUE(tkClass);
    EXPECT_FALSE(WindowQueries::isTerminal(*tkClass)) << tkClass->className;
    // PRIMARY still belongs to xterm, not to the window now active.
    EXPECT_FALSE(WindowQueries::sameClient(*connection_, watcher.state(XA_PRIMARY).owner,
                                           WindowQueries::activeWindow(*connection_)));
}

TEST(WindowClassTest, TerminalNames) {
    const std::pair<WindowQueries::WindowClass, bool> cases[] = {
        {{"gnome-terminal-server", "Gnome-terminal"}, true},
        {{"kitty", "kitty"}, true},
        {{"urxvt", "URxvt"}, true},
        {{"myterm", "Myterm"}, true},
        {{"firefox", "firefox"}, false},
        {{"wish", "Wish"}, false},
        {{"thermostat", "Thermostat"}, false},
        {{"", ""}, false},
    };
    for (const auto& [cls, terminal] : cases)
        EXPECT_EQ(WindowQueries::isTerminal(cls), terminal) << cls.className;
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
