#pragma once

#include "platform/EventTap.h"
#include "platform/x11/internal/X11Desktop.h"

namespace platform::x11 {

// Global left-button taps on X11: each tap records the pointer's device events of every client (RECORD, or
// XInput 2 raw events where RECORD is missing, on connections of its own, read from the main run loop) and
// hands the selected types to its callback with a derived click count and the modifier flags. Events are only
// observed. A tap whose recording breaks (the server went away) is disabled and told so once. Main thread
// only.
class X11EventTaps : public EventTaps {
  public:
    explicit X11EventTaps(::x11::internal::X11Desktop& desktop) : desktop_(desktop) {}
    std::unique_ptr<EventTap> createEventTap(EventTapLocation location, EventTapPlacement placement,
                                             EventTapOptions options, EventMask mask,
                                             EventTapCallback callback) override;

  private:
    ::x11::internal::X11Desktop& desktop_;
};

}  // namespace platform::x11
