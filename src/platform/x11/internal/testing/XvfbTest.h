#pragma once

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/testing/ChildProcess.h"
#include "platform/x11/internal/testing/XvfbServer.h"

namespace x11::testing {

// Base fixture of the tests that need a real X server: skipped with the reason when Xvfb cannot start.
class XvfbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        server_ = sharedXvfb(&why);
        if (!server_) GTEST_SKIP() << "Xvfb cannot start, X11 test skipped: " << why;
        display_ = server_->displayName();
    }

    std::vector<std::string> env() const { return {server_->displayEnv()}; }

    // Runs xdotool with these arguments; true when it succeeded.
    bool xdotool(std::vector<std::string> args) const {
        args.insert(args.begin(), "xdotool");
        int status = -1;
        runCommand(args, env(), &status);
        return status == 0;
    }

    std::unique_ptr<ChildProcess> spawn(const std::vector<std::string>& argv) const {
        ChildProcess::Options options;
        options.env = env();
        return ChildProcess::start(argv, options);
    }

    // An xclip that owns `selection` with `text` (as UTF8_STRING) until it loses it or the test ends, or,
    // with `requests`, until it has answered that many requests.
    std::unique_ptr<ChildProcess> xclipOwn(const std::string& selection, const std::string& text,
                                           int requests = 0) {
        std::string path = "/tmp/tandrel-xclip-" + std::to_string(getpid()) + "-" + std::to_string(++files_);
        {
            std::ofstream file(path, std::ios::binary);
            file << text;
        }
        std::vector<std::string> argv = {"xclip", "-quiet", "-i", "-selection", selection, path};
        if (requests > 0) argv.insert(argv.end(), {"-loops", std::to_string(requests)});
        auto child = spawn(argv);
        // xclip has read the file once it owns the selection; wait for that, then the file can go.
        auto conn = x11::internal::Connection::open(display_);
        ::Atom atom = XInternAtom(conn->get(), selection == "clipboard" ? "CLIPBOARD" : "PRIMARY", False);
        ::Window before = XGetSelectionOwner(conn->get(), atom);
        waitUntil([&] {
            ::Window now = XGetSelectionOwner(conn->get(), atom);
            return now != None && now != before;
        });
        std::remove(path.c_str());
        return child;
    }

    XvfbServer* server_ = nullptr;
    int files_ = 0;
    std::string display_;
};

// An XvfbTest with one open connection to the server in `connection_`.
class XvfbConnectionTest : public XvfbTest {
  protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (IsSkipped()) return;
        connection_ = x11::internal::Connection::open(display_);
        ASSERT_TRUE(connection_);
    }

    std::unique_ptr<x11::internal::Connection> connection_;
};

}  // namespace x11::testing
