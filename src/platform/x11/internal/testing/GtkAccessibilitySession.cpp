#include "platform/x11/internal/testing/GtkAccessibilitySession.h"

#include <unistd.h>

#include "platform/x11/internal/testing/XvfbServer.h"

namespace x11::testing {

namespace {

constexpr const char* kLauncher = "/usr/libexec/at-spi-bus-launcher";
// The GTK bindings of the system's interpreter, whatever python3 comes first on PATH.
constexpr const char* kPython = "/usr/bin/python3";

std::string missingPart() {
    if (access(kLauncher, X_OK) != 0) return std::string(kLauncher) + " (package at-spi2-core)";
    int status = -1;
    // Off any display and without the accessibility bridge: GTK would otherwise look for its accessibility
    // bus and, with no session bus given, have one started on the display (X11 autolaunch), whose launcher
    // then publishes a bus of its own on that display.
    runCommand({kPython, "-c", "import gi; gi.require_version('Gtk', '3.0'); from gi.repository import Gtk"},
               {"DISPLAY=", "NO_AT_BRIDGE=1", "DBUS_SESSION_BUS_ADDRESS=disabled:"}, &status);
    if (status != 0) return std::string(kPython) + " with GTK 3 (packages python3-gi, gir1.2-gtk-3.0)";
    return {};
}

}  // namespace

std::unique_ptr<GtkAccessibilitySession> GtkAccessibilitySession::start(const std::string& displayEnv,
                                                                        std::string* why) {
    if (auto missing = missingPart(); !missing.empty()) {
        if (why) *why = "missing " + missing;
        return nullptr;
    }
    auto session = std::unique_ptr<GtkAccessibilitySession>(new GtkAccessibilitySession());
    session->displayEnv_ = displayEnv;
    ChildProcess::Options options;
    // Services it activates (the launcher, and through it the registry) inherit its environment: they must
    // see the test display and no accessibility bus of the caller's.
    options.env = {displayEnv, "NO_AT_BRIDGE=0", "GSETTINGS_BACKEND=memory", "AT_SPI_BUS_ADDRESS="};
    options.captureStdout = true;
    session->daemon_ =
        ChildProcess::start({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, options, why);
    if (!session->daemon_) return nullptr;
    LineReader reader(session->daemon_->stdoutFd());
    auto address = reader.next(std::chrono::seconds(10));
    if (!address || address->empty()) {
        if (why) *why = "dbus-daemon printed no address";
        return nullptr;
    }
    session->address_ = *address;
    return session;
}

std::vector<std::string> GtkAccessibilitySession::clientEnv() const {
    return {displayEnv_, "DBUS_SESSION_BUS_ADDRESS=" + address_, "NO_AT_BRIDGE=0", "GSETTINGS_BACKEND=memory",
            "AT_SPI_BUS_ADDRESS="};
}

GtkAccessibilitySession* sharedGtkSession(std::string* why) {
    static std::string failure;
    static std::unique_ptr<GtkAccessibilitySession> session =
        []() -> std::unique_ptr<GtkAccessibilitySession> {
        auto* server = sharedXvfb(&failure);
        if (!server) return nullptr;
        return GtkAccessibilitySession::start(server->displayEnv(), &failure);
    }();
    if (!session && why) *why = failure;
    return session.get();
}

}  // namespace x11::testing
