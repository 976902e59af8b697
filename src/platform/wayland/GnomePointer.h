#pragma once

#include "platform/Pointer.h"
#include "platform/wayland/internal/ShellExtension.h"

namespace platform::wayland {

// The pointer's position from the helper's GNOME Shell extension, with y flipped against the primary
// monitor's bottom edge, as on X11. Without the extension the last position found is answered and that is
// said once on standard error. Main thread only; blocks for at most one bounded call.
class GnomePointer : public Pointer {
  public:
    explicit GnomePointer(::wayland::internal::ShellExtension& extension) : extension_(extension) {}
    Point mouseLocation() override;

  private:
    ::wayland::internal::ShellExtension& extension_;
    Point last_;
    bool toldStale_ = false;
};

}  // namespace platform::wayland
