#pragma once

#include "platform/Workspace.h"
#include "platform/x11/internal/X11Desktop.h"

namespace platform::x11 {

// The frontmost application is the client of the active window (_NET_ACTIVE_WINDOW, else the input focus,
// else the window under the pointer); its handle is that window. Main thread only; a few round trips.
class X11Workspace : public Workspace {
  public:
    explicit X11Workspace(::x11::internal::X11Desktop& desktop) : desktop_(desktop) {}
    std::optional<RunningApplication> frontmostApplication() override;

  private:
    ::x11::internal::X11Desktop& desktop_;
};

}  // namespace platform::x11
