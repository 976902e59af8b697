#pragma once

#include <X11/Xlib.h>

#include <utility>

#include "platform/x11/internal/Connection.h"

namespace x11::internal {

// Decides which application window the user works in, for reading the selection and for synthetic key
// strokes. The active window alone can mislead: a window manager that ended leaves _NET_ACTIVE_WINDOW naming
// its last window, and without a manager a click does not move the input focus. The window under the pointer
// at the release of a gesture is where the user just selected, so it is the strongest evidence while the
// active window has not changed since that release (a later change, such as a keyboard switch to another
// window, makes the gesture old news).
//
// Main thread only (the event tap's callback and the readers); each call makes a few blocking round trips on
// the connection.
class FrontmostWindow {
  public:
    explicit FrontmostWindow(Connection& connection) : connection_(connection) {}

    // A left-button press starts a new gesture: the evidence of the previous one no longer holds.
    void notePress();
    // A left-button release: records the top-level window under the pointer and the active window.
    void noteRelease();

    // The window the user works in: the active window, or the window under the pointer at the latest release
    // when that belongs to another application and the active window stayed the same since. Such a
    // disagreement is reported on standard error once per pair of windows.
    ::Window choose();
    // Whether a copy key stroke could end up in a terminal, where it would be typed rather than copy: true
    // when the chosen window, the window under the pointer at the latest release, or the window that receives
    // key strokes now belongs to a terminal emulator.
    bool involvesTerminal();

  private:
    Connection& connection_;
    ::Window releasedOver_ = None;
    ::Window activeAtRelease_ = None;
    std::pair<::Window, ::Window> reported_{None, None};
};

}  // namespace x11::internal
