#include "platform/wayland/WaylandPointer.h"

#include <chrono>
#include <cstdio>

namespace platform::wayland {

namespace {
constexpr std::chrono::milliseconds kProbeTimeout{100};
}

WaylandPointer::WaylandPointer(::wayland::internal::WaylandDesktop& desktop)
    : probe_(::wayland::internal::PointerProbe::create(desktop.connection(), &missing_)) {}

Point WaylandPointer::mouseLocation() {
    if (probe_) {
        if (auto found = probe_->locate(kProbeTimeout)) {
            last_ = Point{found->x, found->primaryHeight - found->y};
            return last_;
        }
        missing_ = "the pointer did not enter the overlay in time";
    }
    if (!toldStale_)
        std::fprintf(stderr, "WaylandPointer: answering the last known pointer position: %s\n",
                     missing_.c_str());
    toldStale_ = true;
    return last_;
}

}  // namespace platform::wayland
