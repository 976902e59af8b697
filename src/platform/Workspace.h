#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// A running application as the workspace reports it.
struct RunningApplication {
    std::int32_t processIdentifier = 0;  // 0 when the platform cannot tell
    std::string localizedName;
    // The backend's own handle of the application (its active window, say); opaque above the backend.
    std::uint64_t nativeHandle = 0;
};

// Facts about the applications on the desktop. Main thread only.
class Workspace {
  public:
    virtual ~Workspace() = default;
    // The application that receives keyboard input now, if any.
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
};

}  // namespace platform
