#pragma once

#include "platform/Workspace.h"
#include "platform/wayland/internal/WaylandDesktop.h"

namespace platform::wayland {

// The frontmost application on Wayland: the activated window where the compositor lists its windows, named by
// its app id (its handle is that window's; no process identifier, which the list does not give). Elsewhere,
// or while no window is activated, an anonymous application standing for "whichever has the keyboard focus":
// its accessibility element reads the seat's selection, which belongs to that application when the user just
// selected something. Main thread only.
class WaylandWorkspace : public Workspace {
  public:
    explicit WaylandWorkspace(::wayland::internal::WaylandDesktop& desktop) : desktop_(desktop) {}
    std::optional<RunningApplication> frontmostApplication() override {
        RunningApplication app;
        if (auto* toplevels = desktop_.toplevels())
            if (auto active = toplevels->activated()) {
                app.localizedName = active->appId;
                app.nativeHandle = active->id;
            }
        return app;
    }

  private:
    ::wayland::internal::WaylandDesktop& desktop_;
};

}  // namespace platform::wayland
