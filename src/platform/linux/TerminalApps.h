#pragma once

#include <string_view>

namespace linuxdesktop {

// Recognises terminal emulators by the names desktops give applications (an X11 class or instance, a
// Wayland app id). A terminal must never receive the copy chord: it would type it or interrupt the program
// in it. Pure, any thread.
class TerminalApps {
  public:
    // Whether `name` (any case; a reverse-domain app id counts by its last part too) names a terminal.
    static bool isTerminal(std::string_view name);
};

}  // namespace linuxdesktop
