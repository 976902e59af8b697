#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/wayland/internal/testing/VirtualPointer.h"
#include "platform/x11/internal/testing/ChildProcess.h"

namespace wayland::testing {

// A private headless compositor (one 1280x800 output) for tests, and the test's pointer on it. sway and KWin
// run, as root, as the unprivileged user 65534 (sway refuses root, and Xwayland admits only users with a
// passwd entry) in a mount and network namespace of their own with a fresh /tmp, so their sockets and locks
// collide with nobody's. The runtime directory (outside /tmp, so that tests reach the socket) is private and
// removed with it; ended by its PID when destroyed.
//
// SwayServer, KWinServer and GnomeShellServer say what runs inside; tests hold a Compositor and ask `kind`
// only where a case needs what one of them lacks.
class Compositor {
  public:
    enum class Kind { Sway, KWin, Gnome };

    // Null when the compositor cannot be started (`why` says why). `trusted` names programs (absolute
    // paths) that may use the compositor's privileged input protocols where it restricts them (KWin).
    static std::unique_ptr<Compositor> start(Kind kind, const std::vector<std::string>& trusted,
                                             std::string* why);
    virtual ~Compositor();

    Kind kind() const { return kind_; }
    // "sway", "kwin" or "gnome".
    const char* name() const;
    // The absolute path of the compositor's socket: a valid WAYLAND_DISPLAY and connection name.
    const std::string& socket() const { return socket_; }
    // Environment entries for a Wayland client of this compositor.
    std::vector<std::string> env() const;
    // What a desktop helper needs beyond WAYLAND_DISPLAY: the compositor's session bus, where it has one.
    virtual std::vector<std::string> helperEnv() const { return {}; }
    // The test's pointer: moves to (x, y) on the output, and presses or releases the left button; each
    // returns once the compositor has it.
    virtual void moveTo(int x, int y) { pointer_->moveTo(x, y); }
    virtual void button(bool down) { pointer_->button(down); }

  protected:
    explicit Compositor(Kind kind) : kind_(kind) {}
    // Starts the process in the runtime directory and sets the socket, ready for clients.
    virtual bool launch(const std::vector<std::string>& trusted, std::string* why);
    // Writes what the compositor needs into the runtime directory and returns the shell command that runs
    // it there (as the unprivileged user when root, with `env -i` and the entries of `compositorEnv`).
    virtual std::string prepare(const std::vector<std::string>&, std::string*) { return {}; }
    virtual std::vector<std::string> compositorEnv() const { return {}; }
    // setpriv options beyond the user change.
    virtual std::string privileges() const { return {}; }
    // Whether the compositor answers everything tests need, once its socket has a seat.
    virtual bool ready() { return true; }

    pid_t pid() const { return process_->pid(); }

    std::unique_ptr<x11::testing::ChildProcess> process_;
    std::string runtimeDir_;
    std::string socket_;

  private:
    Kind kind_;
    std::unique_ptr<VirtualPointer> pointer_;
};

// The compositor of `kind` shared by the tests of one binary, started on first use (`trusted` counts only
// then; the test program itself is always trusted); null (and `why` set) when it cannot be.
Compositor* sharedCompositor(Compositor::Kind kind, std::string* why = nullptr,
                             const std::vector<std::string>& trusted = {});

// The reason a test gives for its skip when its compositor cannot start: "sway cannot start", "KWin cannot
// start" or "gnome-shell cannot start", which the test runner looks for.
std::string cannotStart(Compositor::Kind kind, const std::string& why);

// Names a parameterised suite's runs after their compositor (sway/..., kwin/..., gnome/...): a name
// generator for suites instantiated over Compositor::Kind values.
inline constexpr auto compositorName = [](const auto& info) {
    return std::string(info.param == Compositor::Kind::Sway   ? "sway"
                       : info.param == Compositor::Kind::KWin ? "kwin"
                                                              : "gnome");
};

}  // namespace wayland::testing
