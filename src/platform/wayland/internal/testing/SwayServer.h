#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/wayland/internal/testing/VirtualPointer.h"
#include "platform/x11/internal/testing/ChildProcess.h"

namespace wayland::testing {

// A private headless sway (one 1280x800 output, Xwayland on) for tests. As root it runs as the unprivileged
// user 65534 (sway refuses root, and Xwayland admits only users with a passwd entry) in a mount and network
// namespace of its own with a fresh /tmp, so its X sockets and locks collide with nobody's. Its runtime
// directory is private and removed with it; ended by its PID when destroyed.
class SwayServer {
  public:
    // Null when sway cannot be started (`why` says why).
    static std::unique_ptr<SwayServer> start(std::string* why);
    ~SwayServer();

    // The absolute path of the compositor's socket: a valid WAYLAND_DISPLAY and connection name.
    const std::string& socket() const { return socket_; }
    // Environment entries for a Wayland client of this compositor.
    std::vector<std::string> env() const;
    // Waits until a window whose `key` ("app_id", or "class" for X11 windows) is `value` is mapped (asked
    // over the compositor's IPC socket); whether it came.
    bool waitForWindow(const std::string& key, const std::string& value,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Starts an X11 client of the compositor's Xwayland: as the compositor's user, in its namespaces. Null
    // when that is not possible (not root: the compositor then has no namespaces of its own).
    std::unique_ptr<x11::testing::ChildProcess> startX11Client(const std::vector<std::string>& argv);
    // The test's pointer device, alive as long as the compositor.
    VirtualPointer& pointer() { return *pointer_; }

  private:
    SwayServer() = default;
    std::unique_ptr<x11::testing::ChildProcess> process_;
    std::unique_ptr<VirtualPointer> pointer_;
    std::string runtimeDir_;
    std::string socket_;
};

// The compositor shared by the tests of one binary, started on first use; null (and `why` set) when it
// cannot be.
SwayServer* sharedSway(std::string* why = nullptr);

}  // namespace wayland::testing
