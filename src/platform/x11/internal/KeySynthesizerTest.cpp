// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/KeySynthesizer.h"

#include <X11/keysym.h>

#include "platform/x11/internal/SelectionReader.h"
#include "platform/x11/internal/testing/TkTextWindow.h"
#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

using namespace std::chrono_literals;
using x11::testing::TkTextWindow;

class KeySynthesizerTest : public x11::testing::XvfbTest {};

TEST_F(KeySynthesizerTest, ControlInsertCopiesInTkEvenWithShiftHeldAndUnknownKeysSendNothing) {
    std::string why;
    auto tk = TkTextWindow::start(server_->displayEnv(), "alpha beta", 50, 500, true, &why);
    ASSERT_TRUE(tk) << why;
    ASSERT_TRUE(xdotool({"mousemove", "250", "600"}));
    KeySynthesizer keys(*connection_);

    // The user holds Shift (left over from a shift-click): the application must see Control alone.
    ASSERT_TRUE(xdotool({"keydown", "shift"}));
    ASSERT_FALSE(keys.heldModifiers().empty());
    ASSERT_TRUE(keys.strike({XK_Control_L}, XK_Insert));
    auto pressed = tk->output().until([](const std::string& l) { return l.rfind("key Insert", 0) == 0; });
    ASSERT_TRUE(pressed);
    EXPECT_EQ(*pressed, "key Insert 4");  // Control only (Shift would add 1)
    ASSERT_TRUE(xdotool({"keyup", "shift"}));
    EXPECT_TRUE(keys.heldModifiers().empty());

    SelectionReader reader(*connection_);
    EXPECT_TRUE(x11::testing::waitUntil([&] {
        return reader.readText(connection_->atom("CLIPBOARD"), 200ms) == std::optional<std::string>("alpha");
    }));
    // A key the keyboard cannot type sends nothing.
    EXPECT_FALSE(keys.strike({XK_Control_L}, 0x1234567));
    EXPECT_FALSE(keys.strike({0x1234567}, XK_Insert));
}

}  // namespace
}  // namespace x11::internal
