#pragma once

#include <X11/Xlib.h>

#include <vector>

#include "platform/x11/internal/Connection.h"

namespace x11::internal {

// Strikes key chords through XTEST into whatever window has the keyboard focus. Modifier keys the user holds
// are released before the chord and pressed again after it, so that Shift held from a selection does not
// turn Control+Insert into Control+Shift+Insert. Lock keys are left alone.
//
// Called on the connection's thread; each call sends its events and flushes, without waiting for the
// application.
class KeySynthesizer {
  public:
    explicit KeySynthesizer(Connection& connection);

    // Presses `modifiers` in order, strikes `key`, releases the modifiers in reverse order; false when a key
    // has no key code in the current layout or XTEST is missing (nothing is sent then).
    bool strike(const std::vector<::KeySym>& modifiers, ::KeySym key);
    // The modifier keys down now (logical state), excluding lock keys.
    std::vector<::KeyCode> heldModifiers();

  private:
    Connection& connection_;
    bool haveXTest_ = false;
};

}  // namespace x11::internal
