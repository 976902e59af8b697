// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/XSettings.h"

#include <X11/Xatom.h>

#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

// A little-endian settings blob (serial 7, four settings, each with a zero change serial): an integer, a
// string, a colour and a second integer.
std::string sampleSettings() {
    static const char blob[] =
        "\0\0\0\0\7\0\0\0\4\0\0\0"
        "\0\0\x13\0Net/DoubleClickTime\0\0\0\0\0\xfa\0\0\0"
        "\1\0\x0d\0Net/ThemeName\0\0\0\0\0\0\0\5\0\0\0Adw12\0\0\0"
        "\2\0\x0a\0Gtk/Colour\0\0\0\0\0\0\x7f\x7f\x7f\x7f\x7f\x7f\x7f\x7f"
        "\0\0\x17\0Net/DoubleClickDistance\0\0\0\0\0\xfd\xff\xff\xff";
    return std::string(blob, sizeof blob - 1);
}

class XSettingsTest : public x11::testing::XvfbTest {};

// Another client's blob is untrusted: other types are skipped and a truncated blob yields what came before.
TEST_F(XSettingsTest, ReadsTheIntegersOfTheScreensSettingsManager) {
    auto reader = Connection::open(display_);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(XSettings::readIntegers(*reader).empty());  // no manager yet

    auto manager = Connection::open(display_);
    ASSERT_TRUE(manager);
    ::Display* dpy = manager->get();
    ::Window window = XCreateSimpleWindow(dpy, manager->root(), 0, 0, 1, 1, 0, 0, 0);
    ::Atom settings = manager->atom("_XSETTINGS_SETTINGS");
    std::string blob = sampleSettings();
    XChangeProperty(dpy, window, settings, settings, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(blob.data()), static_cast<int>(blob.size()));
    XSetSelectionOwner(dpy, manager->atom("_XSETTINGS_S0"), window, CurrentTime);
    XSync(dpy, False);
    using Values = decltype(XSettings::parseIntegers(""));
    EXPECT_EQ(XSettings::readIntegers(*reader),
              (Values{{"Net/DoubleClickTime", 250}, {"Net/DoubleClickDistance", -3}}));
    manager.reset();  // the owner goes away with its connection
    EXPECT_TRUE(x11::testing::waitUntil([&] { return XSettings::readIntegers(*reader).empty(); }));

    blob.resize(blob.size() - 2);
    EXPECT_EQ(XSettings::parseIntegers(blob), (Values{{"Net/DoubleClickTime", 250}}));
    EXPECT_TRUE(XSettings::parseIntegers(std::string(12, '\xff')).empty());
}

}  // namespace
}  // namespace x11::internal
