#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/x11/internal/testing/ChildProcess.h"

namespace x11::testing {

// A private session bus for GTK test clients on one display. The first GTK client that starts on it activates
// the accessibility bus launcher, which publishes the accessibility bus as the display's AT_SPI_BUS root
// property; the launcher (and the bus and registry it started) end by themselves when this session bus ends.
// The session bus is ended by its PID when destroyed.
class GtkAccessibilitySession {
  public:
    // Null when a part is missing (dbus-daemon, the launcher, /usr/bin/python3 with GTK 3); `why` says which.
    static std::unique_ptr<GtkAccessibilitySession> start(const std::string& displayEnv,
                                                          std::string* why = nullptr);

    const std::string& address() const { return address_; }
    // The environment a GTK client on this session needs (display, session bus, accessibility on).
    std::vector<std::string> clientEnv() const;

  private:
    GtkAccessibilitySession() = default;
    std::string displayEnv_;
    std::string address_;
    std::unique_ptr<ChildProcess> daemon_;
};

// The session shared by the tests of one binary on the shared Xvfb (libatspi connects once per process, so
// one accessibility bus serves them all); started on first use, null with `why` when it cannot be.
GtkAccessibilitySession* sharedGtkSession(std::string* why = nullptr);

}  // namespace x11::testing
