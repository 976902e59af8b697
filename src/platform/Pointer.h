#pragma once

namespace platform {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

// The pointer. Main thread only.
class Pointer {
  public:
    virtual ~Pointer() = default;
    // Global position in screen points, origin at the bottom-left corner of the primary screen, y upward.
    virtual Point mouseLocation() = 0;
};

}  // namespace platform
