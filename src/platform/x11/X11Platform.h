#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace platform::x11 {

// The real desktop: every platform facility on an X11 display. `display` is a display name (":0"), or empty
// for $DISPLAY. Null when the display cannot be reached (`why` says why); a reachable display that lacks an
// extension still gives a platform, whose permission check then says what is missing.
//
// Create and use it on the main thread; it watches its display connection on the main run loop.
std::unique_ptr<Platform> createX11Platform(const std::string& display = {}, std::string* why = nullptr);

}  // namespace platform::x11
