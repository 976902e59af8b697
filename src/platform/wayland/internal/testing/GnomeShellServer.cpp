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

std::unique_ptr<GnomeShellServer> GnomeShellServer::start(std::string* why) {
    auto fail = [why](const std::string& reason) -> std::unique_ptr<GnomeShellServer> {
        if (why) *why = reason;
        return nullptr;
    };
    // Outside /tmp: as root the shell gets a fresh /tmp, and the tests must reach its sockets.
    char pattern[] = "/dev/shm/tandrel-gnome-XXXXXX";
    if (!mkdtemp(pattern)) return fail("cannot create a runtime directory");
    auto server = std::unique_ptr<GnomeShellServer>(new GnomeShellServer());
    server->dir_ = pattern;
    const std::string source = TANDREL_SOURCE_DIR;
    x11::testing::ChildProcess::Options options;
    server->process_ = x11::testing::ChildProcess::start(
        {"sh", "-c", "exec sh \"$0\" \"$@\" 2>\"$1/shell.log\"",
         source + "/src/platform/wayland/internal/testing/gnome-shell-session.sh", server->dir_,
         source + "/gnome/helper@tandrel.com",
         source + "/src/platform/wayland/internal/testing/test-input@tandrel.com"},
        options, why);
    if (!server->process_) return nullptr;
    const std::string ready = server->dir_ + "/ready";
    x11::testing::waitUntil([&] { return !server->process_->isRunning() || std::filesystem::exists(ready); },
                            std::chrono::seconds(60));
    if (!std::filesystem::exists(ready))
        return fail("gnome-shell did not start (is it installed?): " + slurp(server->dir_ + "/shell.log"));

    const std::string bus = "unix:path=" + server->dir_ + "/session_bus";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
    if (sd_bus_new(&server->bus_) < 0 || sd_bus_set_address(server->bus_, bus.c_str()) < 0 ||
        sd_bus_set_bus_client(server->bus_, 1) < 0 || sd_bus_start(server->bus_) < 0)
        return fail("cannot connect to the shell's session bus");
    server->waylandSocket_ = server->dir_ + "/wayland-gnome";
    // Extensions are enabled once the shell has started; the shell starts in the overview.
    const bool up = x11::testing::waitUntil(
        [&] {
            return server->call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Peer",
                                "Ping", "") &&
                   server->call(kTestInput, kTestInputPath, "org.freedesktop.DBus.Peer", "Ping", "");
        },
        std::chrono::seconds(20));
    if (!up) return fail("the test input extension did not come up: " + slurp(server->dir_ + "/shell.log"));
    // The shell opens the overview once its start-up animation ends: close it whenever it shows, until it
    // stays closed.
    auto overviewActive = [&] {
        int active = 1;
        sd_bus_get_property_trivial(server->bus_, "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell",
                                    "OverviewActive", nullptr, 'b', &active);
        return active != 0;
    };
    auto closedSince = std::chrono::steady_clock::now();
    x11::testing::waitUntil(
        [&] {
            if (!overviewActive())
                return std::chrono::steady_clock::now() - closedSince > std::chrono::seconds(1);
            server->call("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Set",
                         "ssv", "org.gnome.Shell", "OverviewActive", "b", 0);
            closedSince = std::chrono::steady_clock::now();
            return false;
        },
        std::chrono::seconds(10));
    // Xwayland's display and the cookie it wants.
    const std::string log = slurp(server->dir_ + "/shell.log");
    const auto at = log.find("Using public X11 display ");
    if (at != std::string::npos) {
        const auto start = at + std::string("Using public X11 display ").size();
        server->display_ = log.substr(start, log.find_first_of(", \n", start) - start);
    }
    for (const auto& entry : std::filesystem::directory_iterator(server->dir_))
        if (entry.path().filename().string().rfind(".mutter-Xwaylandauth.", 0) == 0)
            ::setenv("XAUTHORITY", entry.path().c_str(), 1);
    return server;
}

GnomeShellServer::~GnomeShellServer() {
    sd_bus_flush_close_unref(bus_);
    process_.reset();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
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

bool GnomeShellServer::moveTo(double x, double y) {
    return call(kTestInput, kTestInputPath, kTestInput, "MovePointer", "dd", x, y);
}

bool GnomeShellServer::button(bool pressed) {
    return call(kTestInput, kTestInputPath, kTestInput, "Button", "b", static_cast<int>(pressed));
}

bool GnomeShellServer::key(unsigned keysym, bool pressed) {
    return call(kTestInput, kTestInputPath, kTestInput, "Key", "ub", keysym, static_cast<int>(pressed));
}

bool GnomeShellServer::setExtensionEnabled(bool enabled) {
    return call("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions",
                enabled ? "EnableExtension" : "DisableExtension", "s", "helper@tandrel.com");
}

std::vector<std::string> GnomeShellServer::env() const {
    return {"WAYLAND_DISPLAY=" + waylandSocket_, "XDG_RUNTIME_DIR=" + dir_, "GDK_BACKEND=wayland"};
}

GnomeShellServer* sharedGnomeShell(std::string* why) {
    static std::string failure;
    static std::unique_ptr<GnomeShellServer> server = GnomeShellServer::start(&failure);
    if (!server && why) *why = failure;
    return server.get();
}

}  // namespace wayland::testing
