#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/wayland/internal/Connection.h"

namespace wayland::internal {

// Finds the pointer where the compositor tells no client where it is: a transparent overlay (layer shell,
// overlay layer, no keyboard input) on every output for an instant, until the pointer enters one of them;
// the entry's position plus that output's place in the layout is the pointer's position. The overlays take
// the pointer only between their appearance and that first event (a fraction of a millisecond) and are gone
// before `locate` returns.
//
// Who calls it: the main thread. `locate` blocks for at most its timeout, dispatching the connection's
// events meanwhile.
class PointerProbe {
  public:
    struct Position {
        double x = 0, y = 0;       // in the compositor's layout, logical pixels, origin top-left
        double primaryHeight = 0;  // height of the output at the layout's origin (else the first output)
    };

    // Null when the compositor offers no layer shell or the seat has no pointer (`why` says which).
    static std::unique_ptr<PointerProbe> create(Connection& connection, std::string* why = nullptr);

    // Nothing when no overlay was entered within `timeout` (a button held over another surface keeps the
    // pointer there, say).
    std::optional<Position> locate(std::chrono::milliseconds timeout);

  private:
    explicit PointerProbe(Connection& connection) : connection_(connection) {}
    Connection& connection_;
};

}  // namespace wayland::internal
