#include "platform/wayland/internal/testing/GnomeShellServer.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace wayland::testing {

namespace {

constexpr const char* kTestInput = "com.tandrel.helper.TestInput";
constexpr const char* kTestInputPath = "/com/tandrel/helper/TestInput";

std::string slurp(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

bool GnomeShellServer::launch(const std::vector<std::string>&, std::string* why) {
    auto fail = [why](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    const std::string source = TANDREL_SOURCE_DIR;
    process_ = x11::testing::ChildProcess::start(
        {"sh", "-c", "exec sh \"$0\" \"$@\" 2>\"$1/shell.log\"",
         source + "/src/platform/wayland/internal/testing/gnome-shell-session.sh", runtimeDir_,
         source + "/gnome/helper@tandrel.com",
         source + "/src/platform/wayland/internal/testing/test-input@tandrel.com"},
        {}, why);
    if (!process_) return false;
    const std::string ready = runtimeDir_ + "/ready";
    x11::testing::waitUntil([&] { return !process_->isRunning() || std::filesystem::exists(ready); },
                            std::chrono::seconds(60));
    if (!std::filesystem::exists(ready))
        return fail("gnome-shell did not start (is it installed?): " + slurp(runtimeDir_ + "/shell.log"));

    const std::string bus = "unix:path=" + runtimeDir_ + "/session_bus";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
    if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, bus.c_str()) < 0 ||
        sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0)
        return fail("cannot connect to the shell's session bus");
    socket_ = runtimeDir_ + "/wayland-gnome";
    // Extensions are enabled once the shell has started; the shell starts in the overview.
    const bool up = x11::testing::waitUntil(
        [&] {
            return call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Peer", "Ping",
                        "") &&
                   call(kTestInput, kTestInputPath, "org.freedesktop.DBus.Peer", "Ping", "");
        },
        std::chrono::seconds(20));
    if (!up) return fail("the test input extension did not come up: " + slurp(runtimeDir_ + "/shell.log"));
    // The shell opens the overview once its start-up animation ends: close it whenever it shows, until it
    // stays closed.
    auto overviewActive = [&] {
        int active = 1;
        sd_bus_get_property_trivial(bus_, "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell",
                                    "OverviewActive", nullptr, 'b', &active);
        return active != 0;
    };
    auto closedSince = std::chrono::steady_clock::now();
    x11::testing::waitUntil(
        [&] {
            if (!overviewActive())
                return std::chrono::steady_clock::now() - closedSince > std::chrono::seconds(1);
            call("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Set", "ssv",
                 "org.gnome.Shell", "OverviewActive", "b", 0);
            closedSince = std::chrono::steady_clock::now();
            return false;
        },
        std::chrono::seconds(10));
    // Xwayland's display and the cookie it wants.
    const std::string log = slurp(runtimeDir_ + "/shell.log");
    const auto at = log.find("Using public X11 display ");
    if (at != std::string::npos) {
        const auto start = at + std::string("Using public X11 display ").size();
        display_ = log.substr(start, log.find_first_of(", \n", start) - start);
    }
    for (const auto& entry : std::filesystem::directory_iterator(runtimeDir_))
        if (entry.path().filename().string().rfind(".mutter-Xwaylandauth.", 0) == 0)
            ::setenv("XAUTHORITY", entry.path().c_str(), 1);
    return true;
}

GnomeShellServer::~GnomeShellServer() {
    sd_bus_flush_close_unref(bus_);
}

bool GnomeShellServer::call(const char* destination, const char* path, const char* interface,
                            const char* member, const char* types, ...) {
    sd_bus_message* request = nullptr;
    if (sd_bus_message_new_method_call(bus_, &request, destination, path, interface, member) < 0)
        return false;
    va_list args;
    va_start(args, types);
    int result = sd_bus_message_appendv(request, types, args);
    va_end(args);
    sd_bus_message* reply = nullptr;
    if (result >= 0) result = sd_bus_call(bus_, request, 5'000'000, nullptr, &reply);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(request);
    return result >= 0;
}

void GnomeShellServer::moveTo(int x, int y) {
    call(kTestInput, kTestInputPath, kTestInput, "MovePointer", "dd", static_cast<double>(x),
         static_cast<double>(y));
}

void GnomeShellServer::button(bool down) {
    call(kTestInput, kTestInputPath, kTestInput, "Button", "b", static_cast<int>(down));
}

bool GnomeShellServer::key(unsigned keysym, bool pressed) {
    return call(kTestInput, kTestInputPath, kTestInput, "Key", "ub", keysym, static_cast<int>(pressed));
}

bool GnomeShellServer::setExtensionEnabled(bool enabled) {
    return call("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions",
                enabled ? "EnableExtension" : "DisableExtension", "s", "helper@tandrel.com");
}

}  // namespace wayland::testing
