#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/x11/internal/testing/ChildProcess.h"

struct sd_bus;

namespace wayland::testing {

// A private headless GNOME Shell (1280x800, Xwayland on demand) with the helper's extension and the test-only
// input extension enabled, started by gnome-shell-session.sh beside private system and session buses. The
// process's DBUS_SESSION_BUS_ADDRESS and XAUTHORITY point at it while it lives, so that the helper and the
// platform under test find the shell. Run as root, the script puts the shell in namespaces of its own; the
// gnome_service test instead runs whole as one unprivileged user in its own namespaces (see
// run-as-desktop-user.sh), since the extension and the helper serve only their own user.
//
// Input comes from the test-only extension's virtual pointer. Ended by its PID when destroyed.
class GnomeShellServer {
  public:
    // Null when gnome-shell cannot be started (`why` says why).
    static std::unique_ptr<GnomeShellServer> start(std::string* why);
    ~GnomeShellServer();

    // Environment entries for a Wayland client of this shell.
    std::vector<std::string> env() const;
    const std::string& waylandSocket() const { return waylandSocket_; }
    // Xwayland's display name.
    const std::string& display() const { return display_; }

    bool moveTo(double x, double y);
    bool button(bool pressed);
    // A key of the test extension's keyboard, by keysym.
    bool key(unsigned keysym, bool pressed);
    // Enables or disables the helper's extension through the shell's own extension service.
    bool setExtensionEnabled(bool enabled);

  private:
    GnomeShellServer() = default;
    bool call(const char* destination, const char* path, const char* interface, const char* member,
              const char* types, ...);

    std::unique_ptr<x11::testing::ChildProcess> process_;
    std::string dir_;
    std::string waylandSocket_;
    std::string display_;
    sd_bus* bus_ = nullptr;
};

// The shell shared by the tests of one binary, started on first use; null (and `why` set) when it cannot be.
GnomeShellServer* sharedGnomeShell(std::string* why = nullptr);

}  // namespace wayland::testing
