#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/x11/internal/Connection.h"

namespace x11::internal {

// Questions about other clients' windows. Each is a few blocking round trips on the connection; windows may
// vanish at any moment, so every answer may be empty. Called on the connection's thread.
class WindowQueries {
  public:
    struct WindowClass {
        std::string instance;
        std::string className;
    };

    // Whether a live window manager follows the desktop conventions: the root's _NET_SUPPORTING_WM_CHECK
    // names a window whose own _NET_SUPPORTING_WM_CHECK names itself. A manager that ended leaves the root's
    // property naming a window that is gone.
    static bool hasLiveWindowManager(Connection& connection);
    // The window that gets keyboard input: _NET_ACTIVE_WINDOW while a live window manager publishes it (the
    // property outlives its manager), else the input focus, else (no manager, focus following the pointer)
    // the top-level window under the pointer.
    static ::Window activeWindow(Connection& connection);
    // The window that receives key strokes now: the input focus, or the top-level window under the pointer
    // when the focus follows the pointer; None when nobody would.
    static ::Window keyboardRecipient(Connection& connection);
    // The top-level window (a child of the root, possibly a manager's frame) under the pointer, or None.
    static ::Window topLevelUnderPointer(Connection& connection);
    // The X client that created the window (X-Resource client id); nothing when the server cannot tell.
    static std::optional<::XID> clientOf(Connection& connection, ::Window window);
    // Whether two windows belong to the same client.
    static bool sameClient(Connection& connection, ::Window a, ::Window b);
    static std::optional<pid_t> pidOf(Connection& connection, ::Window window);
    // The application window at or around `window` (itself, its top-level ancestor, or a client window inside
    // a manager's frame): the first of them with a WM_CLASS; None when there is none.
    static ::Window applicationWindow(Connection& connection, ::Window window);
    // WM_CLASS of the application window at or around `window`.
    static std::optional<WindowClass> classOf(Connection& connection, ::Window window);
    // Whether the class names a terminal emulator.
    static bool isTerminal(const WindowClass& windowClass);
    // The accessibility bus the display advertises (the root window's AT_SPI_BUS); empty when none.
    static std::string atspiBusAddress(Connection& connection);
    // The top-level window (a child of the root) containing `window`.
    static ::Window topLevelOf(Connection& connection, ::Window window);
};

}  // namespace x11::internal
