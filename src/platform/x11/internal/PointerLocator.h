#pragma once

#include <optional>
#include <vector>

#include "platform/x11/internal/Connection.h"

namespace x11::internal {

struct MonitorRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
};

// The pointer's position with the origin at the bottom-left corner of the primary monitor, y upward:
// x' = x - P.x, y' = P.y + P.h - y, where P is the primary monitor, else the one containing (0,0), else the
// first, else the whole screen. Blocking round trips; called on the connection's thread.
class PointerLocator {
  public:
    static std::vector<MonitorRect> monitors(Connection& connection);
    static MonitorRect reference(const std::vector<MonitorRect>& monitors, const MonitorRect& screen);
    // Nothing when the pointer is on another screen or the query fails.
    static std::optional<std::pair<double, double>> location(Connection& connection);
};

}  // namespace x11::internal
