#pragma once

#include "platform/EventTap.h"
#include "platform/wayland/internal/ShellExtension.h"

namespace platform::wayland {

// Selection gestures on GNOME Shell. The Shell extension signals once the user finished a selection (PRIMARY
// replaced and the left button released, or a keyboard selection gone quiet); a tap reports each one whose
// PRIMARY text is new and not empty as one left-button gesture (down, dragged, up with click count 1) whose
// events carry `selectsText`, since the cursor image cannot be read. Toolkits offer PRIMARY again when their
// window gets the focus: a repeat of the text announced last is not a new selection. Main thread only.
class GnomeEventTaps : public EventTaps {
  public:
    explicit GnomeEventTaps(::wayland::internal::ShellExtension& extension) : extension_(extension) {}
    std::unique_ptr<EventTap> createEventTap(EventTapLocation location, EventTapPlacement placement,
                                             EventTapOptions options, EventMask mask,
                                             EventTapCallback callback) override;

  private:
    ::wayland::internal::ShellExtension& extension_;
};

}  // namespace platform::wayland
