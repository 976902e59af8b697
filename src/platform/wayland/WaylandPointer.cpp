#include "platform/wayland/WaylandPointer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace platform::wayland {

namespace {
// Asking the compositor itself: a one-shot KWin script, or Hyprland's socket.
constexpr std::chrono::milliseconds kScriptTimeout{250};
constexpr std::chrono::milliseconds kProbeTimeout{100};
}  // namespace

WaylandPointer::WaylandPointer(::wayland::internal::WaylandDesktop& desktop)
    : probe_(::wayland::internal::PointerProbe::create(desktop.connection(), &missing_)) {
    std::string why;
    if (desktop.connection().isKWin()) script_ = ::wayland::internal::KWinCursorScript::create(&why);
    if (!script_ && !why.empty() && !probe_) missing_ = why + "; " + missing_;
    why.clear();
    if (std::getenv("HYPRLAND_INSTANCE_SIGNATURE"))
        hyprland_ = ::wayland::internal::HyprlandCursor::create(&why);
    if (!hyprland_ && !why.empty() && !probe_) missing_ = why + "; " + missing_;
}

Point WaylandPointer::mouseLocation() {
    std::optional<::wayland::internal::PointerProbe::Position> found;
    if (script_) found = script_->locate(kScriptTimeout, &missing_);
    if (!found && hyprland_) found = hyprland_->locate(kScriptTimeout, &missing_);
    if (!found && probe_) {
        found = probe_->locate(kProbeTimeout);
        if (!found) missing_ = "the pointer did not enter the overlay in time";
    }
    if (found) {
        last_ = Point{found->x, found->primaryHeight - found->y};
        return last_;
    }
    if (!toldStale_)
        std::fprintf(stderr, "WaylandPointer: answering the last known pointer position: %s\n",
                     missing_.c_str());
    toldStale_ = true;
    return last_;
}

}  // namespace platform::wayland
