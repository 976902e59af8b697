#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace platform::wayland {

// The real desktop on a Wayland compositor that offers data control (sway and other wlroots compositors,
// KWin): every platform facility through one connection. `display` is a display name or socket path, or
// empty for $WAYLAND_DISPLAY. Null when no compositor answers or it offers no data control (`why` says
// which; on success it says which compositor was found, "KWin offers data control" say); a compositor that
// lacks the virtual keyboard (and fake input) or layer shell still gives a platform, whose permission prompt
// says what is missing.
//
// Create and use it on the main thread; it watches its connection on the main run loop.
std::unique_ptr<Platform> createWaylandPlatform(const std::string& display = {}, std::string* why = nullptr);

}  // namespace platform::wayland
