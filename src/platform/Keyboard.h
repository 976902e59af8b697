#pragma once

#include "platform/KeyboardEvent.h"

namespace platform {

// Posts synthetic keyboard events into the input stream; the application with the keyboard focus gets them.
//
// Events are logical: a key code from KeyboardEvent.h plus flags. A backend strikes the key of its own
// layout, and for a copy or paste chord (`editCommandOf`) the chord that copies or pastes on its desktop in
// the focused application, with only the chord's own modifiers effective whatever the user holds. Main thread
// only; posting returns at once and does not wait for the application.
class Keyboard {
  public:
    virtual ~Keyboard() = default;
    virtual void postEvent(EventTapLocation location, const KeyboardEvent& event) = 0;
    // Whether the application a copy chord would reach now types it as text instead of copying (a terminal);
    // the backend then does not post the chord at all, so nothing can be copied.
    virtual bool copyChordWouldBeTyped() { return false; }
};

}  // namespace platform
