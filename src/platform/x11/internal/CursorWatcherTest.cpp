// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/CursorWatcher.h"

#include <X11/cursorfont.h>

#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

using x11::testing::waitUntil;

class CursorWatcherTest : public x11::testing::XvfbTest {};

// A themed xterm's cursor and the root window's are the service tests' part. An xterm that finds no theme
// shows the core cursor-font glyph, recognised by its pixels.
TEST_F(CursorWatcherTest, UnthemedXtermGlyphIsATextCursorAndTheVerdictIsKept) {
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
}

}  // namespace
}  // namespace x11::internal
