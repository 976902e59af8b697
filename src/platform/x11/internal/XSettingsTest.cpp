// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/XSettings.h"

#include <X11/Xatom.h>

#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

void put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i) & 0xff));
}
void putName(std::string& s, uint8_t type, const std::string& name) {
    s.push_back(static_cast<char>(type));
    s.push_back(0);
    s.push_back(static_cast<char>(name.size() & 0xff));
    s.push_back(static_cast<char>(name.size() >> 8));
    s += name;
    s.append((4 - name.size() % 4) % 4, '\0');
    put32(s, 0);  // last change serial
}

// A little-endian settings blob with an integer, a string, a colour and a second integer.
std::string sampleSettings() {
    std::string s(4, '\0');  // LSBFirst
    put32(s, 7);
    put32(s, 4);
    putName(s, 0, "Net/DoubleClickTime");
    put32(s, 250);
    putName(s, 1, "Net/ThemeName");
    put32(s, 5);
    s += "Adw12";
    s.append(3, '\0');
    putName(s, 2, "Gtk/Colour");
    s.append(8, '\x7f');
    putName(s, 0, "Net/DoubleClickDistance");
    put32(s, static_cast<uint32_t>(-3));
    return s;
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
