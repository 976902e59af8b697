#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace platform::wayland {

// The real desktop on GNOME Shell's Wayland session, whose compositor offers no data control: every platform
// facility through the helper's Shell extension on the session bus, and a multi-type clipboard restore
// through Xwayland where $DISPLAY names it. Null when GNOME Shell is not on the session bus (`why` says so);
// with the shell there but the extension not enabled the platform is made anyway and answers no permission,
// and its permission prompt says how to enable the extension. `why` then says what was found.
//
// Create and use it on the main thread; it watches the session bus (and the X display) on the main run loop.
std::unique_ptr<Platform> createGnomePlatform(std::string* why = nullptr);

}  // namespace platform::wayland
