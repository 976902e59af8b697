#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/x11/internal/testing/ChildProcess.h"

namespace x11::testing {

// A private Xvfb on a free display number (chosen by the server through -displayfd), 1280x1024x24, no TCP.
// Ended by its PID when destroyed.
class XvfbServer {
  public:
    // Null when Xvfb cannot be started (`why` says why).
    static std::unique_ptr<XvfbServer> start(std::string* why,
                                             const std::vector<std::string>& extraArgs = {});

    const std::string& displayName() const { return name_; }
    std::string displayEnv() const { return "DISPLAY=" + name_; }

  private:
    XvfbServer() = default;
    std::unique_ptr<ChildProcess> process_;
    std::string name_;
};

// The server shared by the tests of one binary, started on first use; null (and `why` set) when it cannot be.
XvfbServer* sharedXvfb(std::string* why = nullptr);

}  // namespace x11::testing
