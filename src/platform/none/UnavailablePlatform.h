#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace platform::none {

// The platform of a session without a usable desktop (no display reachable). The service still runs and
// answers its client truthfully: the permission is not held, no event tap can be installed, no application is
// frontmost, the pasteboard is empty and refuses writes, key strokes reach nobody, no cursor is known and the
// pointer is at the origin. Delayed work runs on the real main queue.
//
// Main thread only, like every platform. `reason` says why no desktop is usable (for log lines).
std::unique_ptr<Platform> createUnavailablePlatform(std::string reason);

}  // namespace platform::none
