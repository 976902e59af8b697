#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/wayland/internal/PointerProbe.h"

namespace wayland::internal {

// The pointer's position from Hyprland itself, through its request socket (the one its command-line tool
// uses): `j/cursorpos` gives the position in the layout, `j/monitors` the outputs, of which the one at the
// layout's origin (else the first) gives the height y is flipped against. Hyprland serves one request per
// connection and serves them synchronously, so every connection is closed as soon as its answer is in.
//
// Who calls it: the main thread. `locate` blocks for at most its timeout, both requests included.
class HyprlandCursor {
  public:
    // Null when HYPRLAND_INSTANCE_SIGNATURE is unset or names no socket, under $XDG_RUNTIME_DIR/hypr
    // (Hyprland 0.40 and later) or /tmp/hypr (earlier) (`why` says which).
    static std::unique_ptr<HyprlandCursor> create(std::string* why = nullptr);

    // Nothing when Hyprland did not answer both requests within `timeout` or answered something else than
    // expected (`why` says which).
    std::optional<PointerProbe::Position> locate(std::chrono::milliseconds timeout,
                                                 std::string* why = nullptr) const;

  private:
    using Deadline = std::chrono::steady_clock::time_point;
    explicit HyprlandCursor(std::string socketPath) : socketPath_(std::move(socketPath)) {}
    // The whole answer to `command` (read until Hyprland closes the connection); nothing when the deadline
    // passed or the socket failed (`why` set).
    std::optional<std::string> request(const std::string& command, Deadline deadline, std::string* why) const;

    std::string socketPath_;
};

}  // namespace wayland::internal
