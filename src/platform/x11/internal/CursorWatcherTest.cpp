// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/CursorWatcher.h"

#include <X11/Xcursor/Xcursor.h>
#include <X11/cursorfont.h>

#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

using x11::testing::TestWindow;
using x11::testing::waitUntil;

class CursorWatcherTest : public x11::testing::XvfbTest {
  protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        watcher_ = std::make_unique<CursorWatcher>(*connection_);
        std::set<uint64_t> hashes;
        for (const auto& image : CursorImages::standardTextCursors(*connection_))
            hashes.insert(hashPixels(image.argb));
        watcher_->setTextHashes(hashes);
    }

    // A cursor-font cursor (libXcursor replaces it with the theme's cursor of that name when there is one).
    static ::Cursor coreCursor(::Display* dpy, unsigned glyph) {
        Font font = XLoadFont(dpy, "cursor");
        XColor black{}, white{};
        white.red = white.green = white.blue = 0xffff;
        ::Cursor cursor = XCreateGlyphCursor(dpy, font, font, glyph, glyph + 1, &black, &white);
        XUnloadFont(dpy, font);
        return cursor;
    }

    // Waits until the pointer shows a cursor whose hash is `hash`.
    bool showing(uint64_t hash) {
        return waitUntil([&] { return watcher_->currentHash() == hash; });
    }

    std::unique_ptr<CursorWatcher> watcher_;
};

// An xterm that finds no cursor theme shows the core cursor-font glyph, one that finds one the theme's.
TEST_F(CursorWatcherTest, XtermsTextCursorIsRecognisedWithAndWithoutATheme) {
    auto glyph = CursorImages::coreGlyph(*connection_, XC_xterm);
    ASSERT_TRUE(glyph);
    for (bool themed : {false, true}) {
        SCOPED_TRACE(themed ? "theme" : "core glyph");
        auto xterm = this->xterm(
            "40x10+100+100", "sleep 60",
            themed ? std::vector<std::string>{} : std::vector<std::string>{"XCURSOR_PATH=/nonexistent"});
        ASSERT_TRUE(xterm);
        ASSERT_TRUE(xdotool({"mousemove", "200", "150"}));
        if (!themed) {
            ASSERT_TRUE(showing(hashPixels(glyph->argb))) << "server image differs from the rendered glyph";
            auto shown = CursorImages::current(*connection_);
            EXPECT_EQ(shown->width, glyph->width);
            EXPECT_EQ(shown->height, glyph->height);
        }
        EXPECT_TRUE(waitUntil([&] { return watcher_->isTextCursor(); }))
            << "xterm's cursor (hash " << watcher_->currentHash() << ") is not a recorded text cursor";
        // Two calls with the same cursor agree, and the second costs no image fetch.
        const uint64_t fetches = watcher_->fetches();
        EXPECT_TRUE(watcher_->isTextCursor());
        EXPECT_EQ(watcher_->fetches(), fetches);
        xterm.reset();
        ASSERT_TRUE(xdotool({"mousemove", "5", "5"}));
    }
}

TEST_F(CursorWatcherTest, ArrowHandAndResizeCursorsAreNotTextAndChangesAreNoticed) {
    TestWindow text(display_, 100, 300, 100, 100);
    text.setCursor(coreCursor(text.dpy(), XC_xterm));
    TestWindow other(display_, 300, 300, 100, 100);
    for (unsigned glyph : {XC_left_ptr, XC_hand2, XC_sb_h_double_arrow}) {
        other.setCursor(coreCursor(other.dpy(), glyph));
        text.pointAt();
        ASSERT_TRUE(waitUntil([&] { return watcher_->isTextCursor(); }));
        other.pointAt();
        EXPECT_TRUE(waitUntil([&] { return !watcher_->isTextCursor(); })) << "glyph " << glyph;
    }
}

TEST_F(CursorWatcherTest, ThemedTextCursorsAreRecognisedByImageAndName) {
    auto themed = CursorImages::themed(*connection_, "xterm");
    if (!themed) GTEST_SKIP() << "no cursor theme with an \"xterm\" cursor installed";
    TestWindow window(display_, 400, 100, 100, 100);
    ::Cursor cursor = XcursorLibraryLoadCursor(window.dpy(), "xterm");
    ASSERT_NE(cursor, 0u);
    window.setCursor(cursor);
    window.pointAt();
    ASSERT_TRUE(showing(hashPixels(themed->argb)));
    EXPECT_EQ(CursorImages::current(*connection_)->name, "xterm");
    EXPECT_TRUE(watcher_->isTextCursor());
    // Recognised by name alone, as a themed cursor at another size would be.
    watcher_->setTextHashes({});
    EXPECT_TRUE(watcher_->isTextCursor());
    EXPECT_TRUE(CursorImages::isTextCursorName("ibeam"));
    EXPECT_FALSE(CursorImages::isTextCursorName("left_ptr"));
}

}  // namespace
}  // namespace x11::internal
