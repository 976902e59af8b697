#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/internal/Connection.h"

namespace x11::internal {

// A cursor's pixels as 32-bit ARGB values, with what identifies it.
struct CursorPixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;
    unsigned long serial = 0;  // the server's cursor serial (0 when not from the server)
    std::string name;          // the name a themed cursor was given ("" for unnamed ones)
};

// FNV-1a over the pixels as little-endian 32-bit values: only the pixels enter, not size or hot spot.
uint64_t hashPixels(const std::vector<uint32_t>& argb);

// The images of the cursors that mean "text here" on this desktop, computed without showing anything:
// the theme's "xterm" and "text" cursors at the theme's default size (libXcursor) and the core cursor-font
// I-beam glyph, rendered as the server renders glyph cursors (black on white, the mask glyph's box).
// Blocking round trips on the connection; call once at set-up.
class CursorImages {
  public:
    // The cursor the pointer shows now (XFixes), or nothing when the server gives none.
    static std::optional<CursorPixels> current(Connection& connection);
    // A themed cursor by name at the default size; nothing when the theme has none.
    static std::optional<CursorPixels> themed(Connection& connection, const char* name);
    // A glyph of the core cursor font with its mask glyph (glyph + 1), black on white.
    static std::optional<CursorPixels> coreGlyph(Connection& connection, unsigned glyph);
    // All the standard text cursors found.
    static std::vector<CursorPixels> standardTextCursors(Connection& connection);
    // Whether a themed cursor's name says "text": "xterm", "text" or "ibeam".
    static bool isTextCursorName(const std::string& name);
};

}  // namespace x11::internal
