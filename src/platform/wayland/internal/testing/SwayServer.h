#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/wayland/internal/testing/Compositor.h"

namespace wayland::testing {

// A private headless sway for tests, with its IPC for the windows it maps; see Compositor.
class SwayServer : public Compositor {
  public:
    // Waits until a window of `appId` is mapped (asked over the compositor's IPC socket); whether it came.
    bool waitForWindow(const std::string& appId);

  private:
    friend class Compositor;
    SwayServer() : Compositor(Kind::Sway) {}
    std::string prepare(const std::vector<std::string>& trusted, std::string* why) override;
    std::vector<std::string> compositorEnv() const override;
};

}  // namespace wayland::testing
