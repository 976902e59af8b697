#pragma once

#include "platform/Cursors.h"

namespace platform::wayland {

// A Wayland client cannot see the cursor other applications show, so no cursor is known: the selection
// signal carries its own "over text" verdict instead (see WaylandEventTaps). Main thread only.
class WaylandCursors : public Cursors {
  public:
    std::optional<CursorImage> currentSystemCursor() override { return std::nullopt; }
    std::vector<CursorImage> standardIBeamCursors() override { return {}; }
};

}  // namespace platform::wayland
