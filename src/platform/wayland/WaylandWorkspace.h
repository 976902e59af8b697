#pragma once

#include "platform/Workspace.h"

namespace platform::wayland {

// Wayland tells a client nothing about other applications: the frontmost application is "whichever has the
// keyboard focus", with no process identifier or name. Its accessibility element reads the seat's selection,
// which belongs to that application when the user just selected something. Main thread only.
class WaylandWorkspace : public Workspace {
  public:
    std::optional<RunningApplication> frontmostApplication() override { return RunningApplication{}; }
};

}  // namespace platform::wayland
