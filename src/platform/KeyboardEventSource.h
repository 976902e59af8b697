#pragma once

#include <cstdint>

#include "platform/KeyboardEvent.h"

namespace platform {

// Where synthetic keyboard events come from and the settings they carry. A plain value; any thread.
class KeyboardEventSource {
  public:
    explicit KeyboardEventSource(EventSourceStateID state) : state_(state) {}

    void setLocalEventsFilterDuringSuppressionState(std::uint32_t filter, EventSuppressionState state) {
        if (state == EventSuppressionState::SuppressionInterval) {
            filterDuringInterval_ = filter;
        } else {
            filterDuringDrag_ = filter;
        }
    }

    // The event starts with no flags; set them on the result.
    KeyboardEvent createKeyboardEvent(std::uint16_t keyCode, bool keyDown) const {
        KeyboardEvent event;
        event.keyCode = keyCode;
        event.keyDown = keyDown;
        event.sourceState = state_;
        event.localEventsFilterDuringSuppressionInterval = filterDuringInterval_;
        event.localEventsFilterDuringRemoteMouseDrag = filterDuringDrag_;
        return event;
    }

  private:
    EventSourceStateID state_;
    std::uint32_t filterDuringInterval_ = kEventFilterMaskPermitAllEvents;
    std::uint32_t filterDuringDrag_ = kEventFilterMaskPermitAllEvents;
};

}  // namespace platform
