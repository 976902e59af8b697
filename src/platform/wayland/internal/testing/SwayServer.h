#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/wayland/internal/testing/Compositor.h"

namespace wayland::testing {

// A private headless sway for tests (Xwayland on), with its IPC for the windows it maps; see Compositor.
class SwayServer : public Compositor {
  public:
    // Waits until a window whose `key` ("app_id", or "class" for X11 windows) is `value` is mapped (asked
    // over the compositor's IPC socket); whether it came.
    bool waitForWindow(const std::string& key, const std::string& value,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Starts an X11 client of the compositor's Xwayland: as the compositor's user, in its namespaces. Null
    // when that is not possible (not root: the compositor then has no namespaces of its own).
    std::unique_ptr<x11::testing::ChildProcess> startX11Client(const std::vector<std::string>& argv);

  private:
    friend class Compositor;
    SwayServer() : Compositor(Kind::Sway) {}
    std::string prepare(const std::vector<std::string>& trusted, std::string* why) override;
    std::vector<std::string> compositorEnv() const override;
};

}  // namespace wayland::testing
