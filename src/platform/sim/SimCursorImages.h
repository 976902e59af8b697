#pragma once

#include "platform/Cursors.h"

namespace platform::sim {

// Distinct cursor images for the simulated desktop, drawn in code (16 x 16, ARGB).
struct SimCursorImages {
    static CursorImage iBeam();
    static CursorImage arrow();
    static CursorImage pointingHand();
    static CursorImage resizeLeftRight();
    // An application's own text cursor: the I-beam with one pixel byte changed.
    static CursorImage customIBeam();
    // A cursor whose image has no bitmap.
    static CursorImage withoutBitmap();
};

}  // namespace platform::sim
