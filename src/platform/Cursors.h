#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The image of a cursor: the pixel bytes of its first bitmap, 32 bits per pixel (ARGB), rows top down.
// `pixels` is empty when the cursor has no bitmap.
struct CursorImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
    // The cursor's name in the desktop's theme, when the platform knows it ("" otherwise).
    std::string name;
};

// Cursor images. Main thread only; each call reads the platform afresh.
class Cursors {
  public:
    virtual ~Cursors() = default;
    // The cursor the system shows now, whichever application set it; null when the platform cannot tell.
    virtual std::optional<CursorImage> currentSystemCursor() = 0;
    // The platform's standard text-editing (I-beam) cursor images, the canonical one first. Desktops with
    // several standard text cursors list them all; empty when none can be loaded.
    virtual std::vector<CursorImage> standardIBeamCursors() = 0;
    // A number that changes whenever the cursor on show changes, on platforms that report cursor changes;
    // nullopt elsewhere. Lets a caller keep its verdict about a cursor until the next change instead of
    // fetching the image every time.
    virtual std::optional<std::uint64_t> currentCursorSerial() { return std::nullopt; }
};

}  // namespace platform
