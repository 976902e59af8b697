// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/CursorWatcher.h"

#include <X11/Xcursor/Xcursor.h>
#include <X11/cursorfont.h>

#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

using x11::testing::waitUntil;

class CursorWatcherTest : public x11::testing::XvfbTest {};

// A themed xterm's cursor is the service tests' part. An xterm that finds no theme shows the core cursor-font
// glyph, recognised by its pixels; a themed text cursor at a size not recorded is recognised by its name. The
// root window's cursor is no text cursor.
TEST_F(CursorWatcherTest, UnthemedGlyphIsKnownByItsPixelsAndThemedCursorsByTheirName) {
    CursorWatcher watcher(*connection_);
    std::set<uint64_t> hashes;
    for (const auto& image : CursorImages::standardTextCursors(*connection_))
        hashes.insert(hashPixels(image.argb));
    watcher.setTextHashes(hashes);
    auto glyph = CursorImages::coreGlyph(*connection_, XC_xterm);
    ASSERT_TRUE(glyph);
    auto xterm = this->xterm("40x10+100+100", "sleep 60", {"XCURSOR_PATH=/nonexistent"});
    ASSERT_TRUE(xterm);
    ASSERT_TRUE(xdotool({"mousemove", "200", "150"}));
    ASSERT_TRUE(waitUntil([&] { return watcher.currentHash() == hashPixels(glyph->argb); }))
        << "server image differs from the rendered glyph";
    EXPECT_TRUE(watcher.isTextCursor());
    // Two calls with the same cursor agree, and the second costs no image fetch.
    const uint64_t fetches = watcher.fetches();
    EXPECT_TRUE(watcher.isTextCursor());
    EXPECT_EQ(watcher.fetches(), fetches);
    xterm.reset();
    ASSERT_TRUE(xdotool({"mousemove", "5", "5"}));
    EXPECT_TRUE(waitUntil([&] { return !watcher.isTextCursor(); }));

    if (!CursorImages::themed(*connection_, "xterm")) GTEST_SKIP() << "no cursor theme with an xterm cursor";
    ::Display* dpy = connection_->get();
    XSetWindowAttributes attributes;
    attributes.override_redirect = True;
    ::Window window = XCreateWindow(dpy, connection_->root(), 300, 300, 100, 100, 0, CopyFromParent,
                                    InputOnly, CopyFromParent, CWOverrideRedirect, &attributes);
    XDefineCursor(dpy, window, XcursorLibraryLoadCursor(dpy, "xterm"));
    XMapRaised(dpy, window);
    XWarpPointer(dpy, None, connection_->root(), 0, 0, 0, 0, 350, 350);
    XSync(dpy, False);
    watcher.setTextHashes({});
    EXPECT_TRUE(waitUntil([&] { return watcher.isTextCursor(); }));
    XDestroyWindow(dpy, window);
    XSync(dpy, False);
}

}  // namespace
}  // namespace x11::internal
