#pragma once

#include <functional>

#include "platform/x11/internal/Connection.h"

namespace x11::internal {

// Tells when anyone presses a key or a pointer button anywhere on the display (XInput 2 raw events on the
// root window), while switched on: so the service can tell that the user acted. Synthetic presses made
// through XTEST count too; switch it on only after this process's own have been made.
//
// Main thread only (the connection's thread); the callback runs as the connection dispatches the event.
// Without XInput 2 nothing is ever reported.
class UserPressWatcher {
  public:
    UserPressWatcher(Connection& connection, std::function<void()> onPress);
    ~UserPressWatcher();
    UserPressWatcher(const UserPressWatcher&) = delete;
    UserPressWatcher& operator=(const UserPressWatcher&) = delete;

    // Selects or deselects the raw press events; a no-op when already in that state.
    void setOn(bool on);

  private:
    Connection& connection_;
    std::function<void()> onPress_;
    int opcode_ = -1;
    int handler_ = 0;
    bool on_ = false;
};

}  // namespace x11::internal
