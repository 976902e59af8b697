#pragma once

#include <memory>
#include <string>

#include "platform/Pointer.h"
#include "platform/wayland/internal/HyprlandCursor.h"
#include "platform/wayland/internal/KWinCursorScript.h"
#include "platform/wayland/internal/PointerProbe.h"
#include "platform/wayland/internal/WaylandDesktop.h"

namespace platform::wayland {

// The pointer's position, with y flipped against the output at the layout's origin, as on X11: on KWin from
// a one-shot KWin script (see KWinCursorScript), on Hyprland from its request socket (see HyprlandCursor),
// else through a momentary overlay on every output (see PointerProbe). Where none answers, the last position
// found is answered and that is said once on standard error. Main thread only; blocks for at most a short,
// bounded wait.
class WaylandPointer : public Pointer {
  public:
    explicit WaylandPointer(::wayland::internal::WaylandDesktop& desktop);
    Point mouseLocation() override;

  private:
    std::unique_ptr<::wayland::internal::KWinCursorScript> script_;
    std::unique_ptr<::wayland::internal::HyprlandCursor> hyprland_;
    std::unique_ptr<::wayland::internal::PointerProbe> probe_;
    std::string missing_;
    Point last_;
    bool toldStale_ = false;
};

}  // namespace platform::wayland
