#include "platform/wayland/GnomeAccessibility.h"

#include <cstdio>

#include "platform/linux/SelectionElement.h"

namespace platform::wayland {

using ::wayland::internal::ShellExtension;

bool GnomeAccessibility::isProcessTrustedWithOptions(bool prompt) {
    const bool trusted = extension_.extensionEnabled();
    if (prompt && !trusted && !toldMissing_) {
        std::fprintf(
            stderr,
            "GnomeAccessibility: the helper's GNOME Shell extension is not enabled; enable it with "
            "`gnome-extensions enable %s` (after installing it, log out and in once so that the shell "
            "finds it)\n",
            ShellExtension::kUuid);
        toldMissing_ = true;
    }
    if (trusted) toldMissing_ = false;
    return trusted;
}

std::shared_ptr<AXUIElement> GnomeAccessibility::createApplication(const RunningApplication&) {
    return ::linuxdesktop::SelectionElement::application([this](std::string& text) {
        auto selected = extension_.readText(ShellExtension::Selection::Primary);
        if (!selected) return AXError::NoValue;
        text = std::move(*selected);
        return AXError::Success;
    });
}

}  // namespace platform::wayland
