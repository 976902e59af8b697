#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/RunLoop.h"
#include "platform/wayland/internal/Connection.h"
#include "platform/wayland/internal/testing/Compositor.h"

namespace wayland::testing {

// The reason a test gives for its skip when its compositor cannot start: "sway cannot start" or "KWin cannot
// start", which the test runner looks for.
inline std::string cannotStart(Compositor::Kind kind, const std::string& why) {
    return std::string(kind == Compositor::Kind::Sway ? "sway" : "KWin") +
           " cannot start, Wayland test skipped: " + why;
}

// Base fixture of the tests that need a real compositor, the one of the test's parameter (instantiate over
// Compositor::Kind values with `compositorName`): skipped with the reason when it cannot start.
// Holds one connection of the test's own whose events the main run loop dispatches while a test pumps it.
class CompositorTest : public ::testing::TestWithParam<Compositor::Kind> {
  protected:
    void SetUp() override {
        std::string why;
        server_ = sharedCompositor(GetParam(), &why);
        if (!server_) GTEST_SKIP() << cannotStart(GetParam(), why);
        connection_ = internal::Connection::open(server_->socket(), &why);
        ASSERT_TRUE(connection_) << why;
        watch_ = dispatch::RunLoop::main().watch(connection_->fd(), dispatch::RunLoop::Readable,
                                                 [this](unsigned) { connection_->dispatchAvailable(); });
    }
    void TearDown() override { watch_.reset(); }

    // Runs the main run loop until `condition` holds or `timeout` passes; whether it held.
    static bool pumpUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            dispatch::RunLoop::main().runFor(std::chrono::milliseconds(2));
        }
        return true;
    }
    static void pumpFor(std::chrono::milliseconds duration) {
        pumpUntil([] { return false; }, duration);
    }

    std::unique_ptr<x11::testing::ChildProcess> spawn(const std::vector<std::string>& argv, int stdinFd = -1,
                                                      bool captureStdout = false) const {
        x11::testing::ChildProcess::Options options;
        options.env = server_->env();
        options.stdinFd = stdinFd;
        options.captureStdout = captureStdout;
        return x11::testing::ChildProcess::start(argv, options);
    }

    // A wl-copy that serves `data` as `args` say until someone else takes the selection.
    std::unique_ptr<x11::testing::ChildProcess> wlCopy(std::vector<std::string> args,
                                                       const std::string& data) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
        args.insert(args.begin(), {"wl-copy", "--foreground"});
        auto child = spawn(args, fds[0]);
        close(fds[0]);
        for (std::size_t done = 0; done < data.size();) {
            ssize_t n = write(fds[1], data.data() + done, data.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(fds[1]);
        return child;
    }

    // Runs a peer (wl-paste) to its end while the run loop keeps serving; its standard output.
    std::string runPeer(const std::vector<std::string>& argv) {
        auto child = spawn(argv, -1, true);
        if (!child) return {};
        std::string out;
        fcntl(child->stdoutFd(), F_SETFL, O_NONBLOCK);
        bool open = true;
        pumpUntil(
            [&] {
                char chunk[65536];
                ssize_t n;
                while ((n = read(child->stdoutFd(), chunk, sizeof chunk)) > 0) out.append(chunk, n);
                if (n == 0) open = false;
                return !open;
            },
            std::chrono::seconds(10));
        child->waitExit(std::chrono::seconds(2));
        return out;
    }

    Compositor* server_ = nullptr;
    std::unique_ptr<internal::Connection> connection_;
    std::unique_ptr<dispatch::RunLoop::Watch> watch_;
};

// Names a parameterised suite's runs after their compositor: sway/..., kwin/... .
inline std::string compositorName(const ::testing::TestParamInfo<Compositor::Kind>& info) {
    return info.param == Compositor::Kind::Sway ? "sway" : "kwin";
}

}  // namespace wayland::testing
