#include "platform/linux/TerminalApps.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace linuxdesktop {

namespace {

bool knownOrNamedSo(const std::string& name) {
    static const char* const known[] = {"xterm",
                                        "uxterm",
                                        "urxvt",
                                        "rxvt",
                                        "gnome-terminal",
                                        "gnome-terminal-server",
                                        "konsole",
                                        "yakuake",
                                        "xfce4-terminal",
                                        "mate-terminal",
                                        "lxterminal",
                                        "qterminal",
                                        "terminator",
                                        "tilix",
                                        "guake",
                                        "tilda",
                                        "alacritty",
                                        "kitty",
                                        "st",
                                        "st-256color",
                                        "foot",
                                        "footclient",
                                        "wezterm",
                                        "wezterm-gui",
                                        "sakura",
                                        "terminology",
                                        "eterm",
                                        "aterm",
                                        "termite",
                                        "cool-retro-term",
                                        "kgx",
                                        "org.gnome.console",
                                        "org.wezfurlong.wezterm",
                                        "blackbox",
                                        "deepin-terminal",
                                        "ptyxis",
                                        "ghostty"};
    for (const char* k : known)
        if (name == k) return true;
    // Most other emulators say so in their name.
    return name.find("terminal") != std::string::npos || name.ends_with("term");
}

}  // namespace

bool TerminalApps::isTerminal(std::string_view name) {
    if (name.empty()) return false;
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (knownOrNamedSo(lower)) return true;
    // Reverse-domain app ids ("org.codeberg.dnkl.foot", "com.mitchellh.ghostty"): the last part names it.
    const auto dot = lower.rfind('.');
    return dot != std::string::npos && dot + 1 < lower.size() && knownOrNamedSo(lower.substr(dot + 1));
}

}  // namespace linuxdesktop
