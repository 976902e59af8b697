#include "platform/x11/internal/testing/XvfbServer.h"

#include <chrono>
#include <cstdlib>

namespace x11::testing {

std::unique_ptr<XvfbServer> XvfbServer::start(std::string* why, const std::vector<std::string>& extraArgs) {
    ChildProcess::Options options;
    options.captureStdout = true;  // the server prints nothing else there
    std::vector<std::string> args = {"Xvfb",         "-displayfd", "1",   "-screen", "0",
                                     "1280x1024x24", "-nolisten",  "tcp", "-noreset"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    auto process = ChildProcess::start(args, options, why);
    if (!process) return nullptr;
    // The server writes its display number once it accepts connections.
    const auto number = LineReader(process->stdoutFd()).next(std::chrono::seconds(15));
    if (!number || number->empty()) {
        if (why) *why = "Xvfb did not report a display number (is it installed?)";
        return nullptr;
    }
    auto server = std::unique_ptr<XvfbServer>(new XvfbServer());
    server->process_ = std::move(process);
    server->name_ = ":" + *number;
    return server;
}

XvfbServer* sharedXvfb(std::string* why) {
    static std::string failure;
    static std::unique_ptr<XvfbServer> server = [] {
        auto s = XvfbServer::start(&failure);
        // Tests run their X work against this server only.
        if (s) setenv("DISPLAY", s->displayName().c_str(), 1);
        return s;
    }();
    if (!server && why) *why = failure;
    return server.get();
}

}  // namespace x11::testing
