#include "platform/wayland/internal/testing/Compositor.h"

#include <unistd.h>

#include <filesystem>
#include <map>

#include "platform/wayland/internal/Connection.h"
#include "platform/wayland/internal/testing/GnomeShellServer.h"
#include "platform/wayland/internal/testing/KWinServer.h"
#include "platform/wayland/internal/testing/SwayServer.h"

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

std::unique_ptr<Compositor> Compositor::start(Kind kind, const std::vector<std::string>& trusted,
                                              std::string* why) {
    std::unique_ptr<Compositor> server;
    if (kind == Kind::Sway)
        server.reset(new SwayServer());
    else if (kind == Kind::KWin)
        server.reset(new KWinServer());
    else
        server.reset(new GnomeShellServer());
    // Outside /tmp: as root the compositor gets a fresh /tmp, and the tests must reach the socket.
    std::string dir = std::string("/dev/shm/tandrel-") + server->name() + "-XXXXXX";
    if (!mkdtemp(dir.data())) {
        if (why) *why = "cannot create a runtime directory";
        return nullptr;
    }
    server->runtimeDir_ = dir;
    if (!server->launch(trusted, why)) return nullptr;
    return server;
}

bool Compositor::launch(const std::vector<std::string>& trusted, std::string* why) {
    auto fail = [&](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    const bool root = geteuid() == 0;
    if (root && chown(runtimeDir_.c_str(), kUnprivileged, kUnprivileged) != 0)
        return fail("cannot hand the runtime directory to uid 65534");
    const std::string command = prepare(trusted, why);
    if (command.empty()) return false;
    if (root) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(runtimeDir_))
            if (lchown(entry.path().c_str(), kUnprivileged, kUnprivileged) != 0)
                return fail("cannot hand " + entry.path().string() + " to uid 65534");
    }
    std::string envs = "env -i PATH=/usr/bin:/bin HOME=" + runtimeDir_ + " XDG_RUNTIME_DIR=" + runtimeDir_;
    for (const auto& entry : compositorEnv()) envs += " " + entry;
    std::vector<std::string> argv;
    if (root) {
        // The parent-death signal ends the compositor with the test process, even one killed mid-run.
        const std::string script =
            "mount -t tmpfs -o mode=1777 tmpfs /tmp && exec setpriv --pdeathsig TERM --reuid=65534 "
            "--regid=65534 --clear-groups " +
            privileges() + " " + envs + " " + command;
        argv = {"unshare", "--mount", "--net", "sh", "-c", script};
    } else {
        argv = {"sh", "-c", "exec " + envs + " " + command};
    }
    process_ = x11::testing::ChildProcess::start(argv, {}, why);
    if (!process_) return false;
    // Ready once its socket answers with a seat and the compositor has the rest up.
    const bool up = x11::testing::waitUntil(
        [&] {
            if (!process_->isRunning()) return true;
            socket_ = findSocket(runtimeDir_);
            if (socket_.empty()) return false;
            auto connection = wayland::internal::Connection::open(socket_);
            return connection && connection->seat() != nullptr && ready();
        },
        std::chrono::seconds(15));
    if (!up || !process_->isRunning())
        return fail(std::string(name()) +
                    " did not start (is it installed? it needs unshare and setpriv as root)");
    pointer_ = VirtualPointer::create(socket_, why);
    return pointer_ != nullptr;
}

Compositor::~Compositor() {
    pointer_.reset();
    process_.reset();
    std::error_code ignored;
    if (!runtimeDir_.empty()) std::filesystem::remove_all(runtimeDir_, ignored);
}

const char* Compositor::name() const {
    return kind_ == Kind::Sway ? "sway" : kind_ == Kind::KWin ? "kwin" : "gnome";
}

std::string cannotStart(Compositor::Kind kind, const std::string& why) {
    const char* names[] = {"sway", "KWin", "gnome-shell"};
    return std::string(names[static_cast<int>(kind)]) + " cannot start, Wayland test skipped: " + why;
}

std::vector<std::string> Compositor::env() const {
    std::vector<std::string> env{"WAYLAND_DISPLAY=" + socket_, "XDG_RUNTIME_DIR=" + runtimeDir_,
                                 "GDK_BACKEND=wayland"};
    // KWin places windows instead of tiling them: the GTK test view goes full-screen there.
    if (kind_ == Kind::KWin) env.push_back("TANDREL_TEST_FULLSCREEN=1");
    return env;
}

Compositor* sharedCompositor(Compositor::Kind kind, std::string* why,
                             const std::vector<std::string>& trusted) {
    struct Started {
        std::unique_ptr<Compositor> server;
        std::string failure;
    };
    static std::map<Compositor::Kind, Started> started;
    auto [it, first] = started.try_emplace(kind);
    if (first) {
        std::vector<std::string> programs = trusted;
        programs.push_back(std::filesystem::read_symlink("/proc/self/exe"));
        it->second.server = Compositor::start(kind, programs, &it->second.failure);
    }
    if (!it->second.server && why) *why = it->second.failure;
    return it->second.server.get();
}

}  // namespace wayland::testing
