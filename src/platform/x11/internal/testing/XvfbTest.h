#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

    XvfbServer* server_ = nullptr;
    std::string display_;
};

}  // namespace x11::testing
