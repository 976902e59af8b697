#include "platform/wayland/internal/testing/KWinServer.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace wayland::testing {

std::string KWinServer::prepare(const std::vector<std::string>& trusted, std::string* why) {
    const std::filesystem::path dir = runtimeDir_;
    std::error_code error;
    std::filesystem::copy_file("/usr/bin/kwin_wayland", dir / "kwin_wayland", error);
    if (error) {
        if (why) *why = "kwin_wayland cannot be copied: " + error.message();
        return {};
    }
    std::filesystem::create_directories(dir / ".local/share/applications");
    for (std::size_t i = 0; i < trusted.size(); ++i)
        std::ofstream(dir / ".local/share/applications" / ("trusted-" + std::to_string(i) + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=trusted\nExec=" << trusted[i]
            << "\nNoDisplay=true\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n";
    // Any user may connect: as root the tests and the helper are root, KWin is not.
    std::ofstream(dir / "bus.conf")
        << "<busconfig><type>session</type><listen>" << busAddress()
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow user=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
           "<allow own=\"*\"/>"
           "</policy></busconfig>\n";
    // The bus ends with KWin (parent-death signal); KWin registers on it as it starts.
    std::ofstream(dir / "start.sh") << "setpriv --pdeathsig TERM dbus-daemon --nofork --config-file="
                                    << dir.string() << "/bus.conf &\nwhile [ ! -S " << dir.string()
                                    << "/bus ]; do sleep 0.01; done\nexec " << dir.string()
                                    << "/kwin_wayland --virtual --socket wayland-0 --width 1280 --height 800 "
                                       "--no-lockscreen --no-global-shortcuts --no-kactivities\n";
    return "sh " + (dir / "start.sh").string();
}

std::vector<std::string> KWinServer::compositorEnv() const {
    // Software OpenGL costs far more than the QPainter compositor for nothing a test looks at.
    return {"KWIN_COMPOSE=Q", "DBUS_SESSION_BUS_ADDRESS=" + busAddress()};
}

std::string KWinServer::privileges() const {
    return "--inh-caps +sys_ptrace,+dac_read_search --ambient-caps +sys_ptrace,+dac_read_search";
}

bool KWinServer::ready() {
    int status = -1;
    const std::string answer = x11::testing::runCommand(
        {"dbus-send", "--bus=" + busAddress(), "--print-reply", "--dest=org.freedesktop.DBus", "/",
         "org.freedesktop.DBus.NameHasOwner", "string:org.kde.KWin"},
        {}, &status);
    return status == 0 && answer.find("boolean true") != std::string::npos;
}

std::vector<std::string> KWinServer::helperEnv() const {
    return {"DBUS_SESSION_BUS_ADDRESS=" + busAddress()};
}

}  // namespace wayland::testing
