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

    // The window that gets keyboard input: _NET_ACTIVE_WINDOW when a window manager publishes it, else the
    // input focus, else (no manager, focus following the pointer) the top-level window under the pointer.
    static ::Window activeWindow(Connection& connection);
    // The X client that created the window (X-Resource client id); nothing when the server cannot tell.
    static std::optional<::XID> clientOf(Connection& connection, ::Window window);
    // Whether two windows belong to the same client.
    static bool sameClient(Connection& connection, ::Window a, ::Window b);
    static std::optional<pid_t> pidOf(Connection& connection, ::Window window);
    // WM_CLASS of the application window at or around `window` (itself, its top-level ancestor, or a client
    // window inside a manager's frame).
    static std::optional<WindowClass> classOf(Connection& connection, ::Window window);
    // Whether the class names a terminal emulator.
    static bool isTerminal(const WindowClass& windowClass);
    // The top-level window (a child of the root) containing `window`.
    static ::Window topLevelOf(Connection& connection, ::Window window);
};

}  // namespace x11::internal
