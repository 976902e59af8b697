#pragma once

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/testing/ChildProcess.h"
#include "platform/x11/internal/testing/XvfbServer.h"

namespace x11::testing {

// Base fixture of the tests that need a real X server (the one shared by the binary, which every child
// process finds in DISPLAY), with an open connection to it in `connection_` and the real X clients the tests
// drive: skipped with the reason when Xvfb cannot start. A missing X client is a failure.
class XvfbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        server_ = sharedXvfb(&why);
        if (!server_) GTEST_SKIP() << "Xvfb cannot start, X11 test skipped: " << why;
        display_ = server_->displayName();
        connection_ = x11::internal::Connection::open(display_);
        ASSERT_TRUE(connection_);
    }

    // Runs xdotool with these arguments; true when it succeeded.
    static bool xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        int status = -1;
        runCommand(args, {}, &status);
        return status == 0;
    }

    static std::unique_ptr<ChildProcess> spawn(const std::vector<std::string>& argv,
                                               const std::vector<std::string>& env = {}) {
        ChildProcess::Options options;
        options.env = env;
        return ChildProcess::start(argv, options);
    }

    // The first visible window xdotool finds with these search arguments (waiting for it), as xdotool names
    // windows; empty when there is none.
    static std::string findWindow(const std::vector<std::string>& search) {
        std::vector<std::string> argv = {"xdotool", "search", "--sync", "--onlyvisible"};
        argv.insert(argv.end(), search.begin(), search.end());
        std::string window;
        std::istringstream(runCommand(argv, {})) >> window;
        return window;
    }

    // An xterm at `geometry` running the shell command `command`, once its window is visible; null when it
    // does not come up.
    static std::unique_ptr<ChildProcess> xterm(const std::string& geometry, const std::string& command,
                                               const std::vector<std::string>& env = {}) {
        auto child = spawn({"xterm", "-geometry", geometry, "-e", "sh", "-c", command}, env);
        if (!child || findWindow({"--pid", std::to_string(child->pid())}).empty()) return nullptr;
        return child;
    }

    // What xclip reads from CLIPBOARD as `target`, or "<xclip failed>".
    static std::string clipboard(const std::string& target) {
        int status = -1;
        std::string out = runCommand({"xclip", "-o", "-selection", "clipboard", "-t", target}, {}, &status);
        return status == 0 ? out : "<xclip failed>";
    }

    // An xclip that owns CLIPBOARD with `text` (as UTF8_STRING) until it loses it or the test ends, or, with
    // `requests`, until it has answered that many requests.
    std::unique_ptr<ChildProcess> xclipOwn(const std::string& text, int requests = 0) {
        std::string path = "/tmp/tandrel-xclip-" + std::to_string(getpid()) + "-" + std::to_string(++files_);
        std::ofstream(path, std::ios::binary) << text;
        std::vector<std::string> argv = {"xclip", "-quiet", "-i", "-selection", "clipboard", path};
        if (requests > 0) argv.insert(argv.end(), {"-loops", std::to_string(requests)});
        ::Atom clipboard = connection_->atom("CLIPBOARD");
        ::Window before = XGetSelectionOwner(connection_->get(), clipboard);
        auto child = spawn(argv);
        // xclip has read the file once it owns the selection; wait for that, then the file can go.
        waitUntil([&] {
            ::Window now = XGetSelectionOwner(connection_->get(), clipboard);
            return now != None && now != before;
        });
        std::remove(path.c_str());
        return child;
    }

    XvfbServer* server_ = nullptr;
    int files_ = 0;
    std::string display_;
    std::unique_ptr<x11::internal::Connection> connection_;
};

}  // namespace x11::testing
