// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/WindowQueries.h"

#include "platform/x11/internal/PointerLocator.h"

namespace x11::internal {
namespace {

// The terminals the service meets on the real server are xterm and urxvt; these are the rest of the rule.
TEST(WindowQueriesTest, TerminalsAreKnownByInstanceOrClassName) {
    using Class = WindowQueries::WindowClass;
    for (const Class& cls : {Class{"gnome-terminal-server", "Gnome-terminal"}, Class{"myterm", "Myterm"}})
        EXPECT_TRUE(WindowQueries::isTerminal(cls)) << cls.className;
    for (const Class& cls : {Class{"thermostat", "Thermostat"}, Class{"", ""}})
        EXPECT_FALSE(WindowQueries::isTerminal(cls)) << cls.className;
}

// Xvfb has one monitor; the layouts of several are given here.
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
