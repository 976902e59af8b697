#include "platform/wayland/internal/testing/SwayServer.h"

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/wayland/internal/Connection.h"

namespace wayland::testing {

namespace {

constexpr uid_t kUnprivileged = 65534;

std::string findSocket(const std::string& dir) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename();
        if (name.rfind("wayland-", 0) == 0 && entry.is_socket()) return entry.path();
    }
    return {};
}

}  // namespace

std::unique_ptr<SwayServer> SwayServer::start(std::string* why) {
    // Outside /tmp: the compositor's namespace gets a fresh /tmp, and the tests must reach the socket.
    char pattern[] = "/dev/shm/tandrel-sway-XXXXXX";
    if (!mkdtemp(pattern)) {
        if (why) *why = "cannot create a runtime directory";
        return nullptr;
    }
    auto server = std::unique_ptr<SwayServer>(new SwayServer());
    server->runtimeDir_ = pattern;
    const bool root = geteuid() == 0;
    if (root && chown(pattern, kUnprivileged, kUnprivileged) != 0) {
        if (why) *why = "cannot hand the runtime directory to uid 65534";
        return nullptr;
    }
    const std::string config = server->runtimeDir_ + "/config";
    {
        std::ofstream file(config);
        file << "output HEADLESS-1 resolution 1280x800 position 0 0\n"
                "xwayland enable\n"
                "seat seat0 fallback true\n"
                "default_border none\n";
    }
    const std::string envs = "env -i PATH=/usr/bin:/bin HOME=" + server->runtimeDir_ +
                             " XDG_RUNTIME_DIR=" + server->runtimeDir_ +
                             " WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman";
    std::vector<std::string> argv;
    if (root) {
        // The parent-death signal ends the compositor with the test process, even one killed mid-run.
        const std::string script =
            "mount -t tmpfs -o mode=1777 tmpfs /tmp && exec setpriv --pdeathsig TERM --reuid=65534 "
            "--regid=65534 --clear-groups " +
            envs + " sway -c " + config;
        argv = {"unshare", "--mount", "--net", "sh", "-c", script};
    } else {
        argv = {"sh", "-c", "exec " + envs + " sway -c " + config};
    }
    x11::testing::ChildProcess::Options options;
    server->process_ = x11::testing::ChildProcess::start(argv, options, why);
    if (!server->process_) return nullptr;
    // Ready once its socket answers with a seat and data control.
    const bool up = x11::testing::waitUntil(
        [&] {
            if (!server->process_->isRunning()) return true;
            server->socket_ = findSocket(server->runtimeDir_);
            if (server->socket_.empty()) return false;
            auto connection = wayland::internal::Connection::open(server->socket_);
            return connection && connection->seat() != nullptr;
        },
        std::chrono::seconds(15));
    if (!up || !server->process_->isRunning()) {
        if (why) *why = "sway did not start (is it installed? it needs unshare and setpriv as root)";
        return nullptr;
    }
    server->pointer_ = VirtualPointer::create(server->socket_, why);
    if (!server->pointer_) return nullptr;
    return server;
}

SwayServer::~SwayServer() {
    pointer_.reset();
    process_.reset();
    std::error_code ignored;
    if (!runtimeDir_.empty()) std::filesystem::remove_all(runtimeDir_, ignored);
}

bool SwayServer::waitForWindow(const std::string& key, const std::string& value,
                               std::chrono::milliseconds timeout) {
    const std::string wanted = "\"" + key + "\": \"" + value + "\"";
    return x11::testing::waitUntil(
        [&] {
            std::string ipc;
            for (const auto& entry : std::filesystem::directory_iterator(runtimeDir_))
                if (entry.path().filename().string().rfind("sway-ipc.", 0) == 0) ipc = entry.path();
            if (ipc.empty()) return false;
            int status = -1;
            const std::string tree =
                x11::testing::runCommand({"swaymsg", "-s", ipc, "-t", "get_tree"}, {}, &status);
            return status == 0 && tree.find(wanted) != std::string::npos;
        },
        timeout);
}

std::unique_ptr<x11::testing::ChildProcess> SwayServer::startX11Client(const std::vector<std::string>& argv) {
    if (geteuid() != 0) return nullptr;
    // A fresh /tmp and network namespace: Xwayland's display is the first one.
    std::vector<std::string> command = {"nsenter",
                                        "--target",
                                        std::to_string(process_->pid()),
                                        "--mount",
                                        "--net",
                                        "setpriv",
                                        "--reuid=65534",
                                        "--regid=65534",
                                        "--clear-groups",
                                        "env",
                                        "-i",
                                        "PATH=/usr/bin:/bin",
                                        "HOME=" + runtimeDir_,
                                        "DISPLAY=:0"};
    command.insert(command.end(), argv.begin(), argv.end());
    return x11::testing::ChildProcess::start(command, {});
}

std::vector<std::string> SwayServer::env() const {
    return {"WAYLAND_DISPLAY=" + socket_, "XDG_RUNTIME_DIR=" + runtimeDir_, "GDK_BACKEND=wayland"};
}

SwayServer* sharedSway(std::string* why) {
    static std::string failure;
    static std::unique_ptr<SwayServer> server = SwayServer::start(&failure);
    if (!server && why) *why = failure;
    return server.get();
}

}  // namespace wayland::testing
