#pragma once

#include "platform/Cursors.h"
#include "platform/x11/internal/X11Desktop.h"

namespace platform::x11 {

// Cursor images from XFixes: the showing cursor (fetched again only after the server reported a change, so
// repeated calls during a drag cost no image transfer) and the desktop's standard text cursors (the theme's
// "xterm" and "text" cursors and the core cursor-font I-beam). Pixels are 32-bit ARGB values stored
// little-endian. Main thread only.
class X11Cursors : public Cursors {
  public:
    explicit X11Cursors(::x11::internal::X11Desktop& desktop) : desktop_(desktop) {}
    std::optional<CursorImage> currentSystemCursor() override;
    std::vector<CursorImage> standardIBeamCursors() override;
    // The XFixes cursor serial, from the server's cursor-change notifications.
    std::optional<std::uint64_t> currentCursorSerial() override;

  private:
    ::x11::internal::X11Desktop& desktop_;
};

}  // namespace platform::x11
