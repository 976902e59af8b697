#pragma once

#include <string>
#include <vector>

#include "platform/wayland/internal/testing/Compositor.h"

struct sd_bus;

namespace wayland::testing {

// A private headless GNOME Shell (Xwayland on demand) with the helper's extension and the test-only input
// extension enabled, started by gnome-shell-session.sh beside private system and session buses; see
// Compositor. The process's DBUS_SESSION_BUS_ADDRESS and XAUTHORITY point at it while it lives, so that the
// helper and the platform under test find the shell. The gnome_service test runs whole as one unprivileged
// user in namespaces of its own (see run-as-desktop-user.sh), since the extension and the helper serve only
// their own user. The pointer and keyboard are the test-only extension's.
class GnomeShellServer : public Compositor {
  public:
    ~GnomeShellServer() override;

    // Xwayland's display name.
    const std::string& display() const { return display_; }
    void moveTo(int x, int y) override;
    void button(bool down) override;
    // A key of the test extension's keyboard, by keysym.
    bool key(unsigned keysym, bool pressed);
    // Enables or disables the helper's extension through the shell's own extension service.
    bool setExtensionEnabled(bool enabled);

  private:
    friend class Compositor;
    GnomeShellServer() : Compositor(Kind::Gnome) {}
    bool launch(const std::vector<std::string>& trusted, std::string* why) override;
    bool call(const char* destination, const char* path, const char* interface, const char* member,
              const char* types, ...);

    std::string display_;
    sd_bus* bus_ = nullptr;
};

}  // namespace wayland::testing
