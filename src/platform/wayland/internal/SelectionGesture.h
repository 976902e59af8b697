#pragma once

#include <memory>

#include "platform/EventTap.h"

namespace wayland::internal {

// Delivers a finished selection the way the event monitor knows a gesture over text: left button down,
// dragged and up, click count 1, each event only when `mask` asks for it. No Wayland client sees the real
// buttons, so both Wayland taps (data control and the GNOME Shell extension) announce a selection like this.
// The callback may disable or destroy the tap: `enabled` is read only while `alive` says the tap still
// exists.
inline void deliverSelectionGesture(platform::EventMask mask, const platform::EventTapCallback& callback,
                                    const std::shared_ptr<bool>& alive, const bool& enabled) {
    using platform::EventType;
    const std::shared_ptr<bool> keep = alive;
    for (EventType type : {EventType::LeftMouseDown, EventType::LeftMouseDragged, EventType::LeftMouseUp}) {
        if (!enabled || !(mask & platform::maskBit(type))) continue;
        platform::InputEvent event;
        event.type = type;
        event.clickState = 1;
        event.selectsText = true;
        auto call = callback;  // the tap may be destroyed while its callback runs
        call(type, event);
        if (!*keep) return;
    }
}

}  // namespace wayland::internal
