#pragma once

#include "platform/EventTap.h"
#include "platform/Scheduler.h"
#include "platform/wayland/internal/WaylandDesktop.h"

namespace platform::wayland {

// Selection gestures on Wayland. No client sees global input there, so a tap does not report the user's
// button events: it reports each finished selection, told by PRIMARY settling (see PrimarySelectionWatcher),
// as one left-button gesture (down, dragged, up with click count 1) whose events carry `selectsText`, since
// no cursor image can be read to tell that the gesture was made over text. Events arrive only while the tap's
// source is on the main run loop and the tap is enabled. Main thread only.
class WaylandEventTaps : public EventTaps {
  public:
    WaylandEventTaps(::wayland::internal::WaylandDesktop& desktop, Scheduler& scheduler)
        : desktop_(desktop), scheduler_(scheduler) {}
    std::unique_ptr<EventTap> createEventTap(EventTapLocation location, EventTapPlacement placement,
                                             EventTapOptions options, EventMask mask,
                                             EventTapCallback callback) override;

  private:
    ::wayland::internal::WaylandDesktop& desktop_;
    Scheduler& scheduler_;
};

}  // namespace platform::wayland
