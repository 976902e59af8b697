#include "platform/wayland/internal/testing/SwayServer.h"

#include <filesystem>
#include <fstream>

namespace wayland::testing {

std::string SwayServer::prepare(const std::vector<std::string>&, std::string*) {
    const std::string config = runtimeDir_ + "/config";
    std::ofstream(config) << "output HEADLESS-1 resolution 1280x800 position 0 0\n"
                             "xwayland enable\n"
                             "seat seat0 fallback true\n"
                             "default_border none\n";
    return "sway -c " + config;
}

std::vector<std::string> SwayServer::compositorEnv() const {
    return {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"};
}

bool SwayServer::waitForWindow(const std::string& appId) {
    const std::string wanted = "\"app_id\": \"" + appId + "\"";
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
        std::chrono::seconds(10));
}

}  // namespace wayland::testing
