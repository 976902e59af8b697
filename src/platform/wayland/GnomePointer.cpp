#include "platform/wayland/GnomePointer.h"

#include <cstdio>

namespace platform::wayland {

Point GnomePointer::mouseLocation() {
    if (auto position = extension_.pointerPosition()) {
        last_ = Point{static_cast<double>(position->x),
                      static_cast<double>(position->primaryBottom - position->y)};
        toldStale_ = false;
        return last_;
    }
    if (!toldStale_)
        std::fprintf(
            stderr,
            "GnomePointer: answering the last known pointer position: the GNOME Shell extension %s does "
            "not answer\n",
            ::wayland::internal::ShellExtension::kUuid);
    toldStale_ = true;
    return last_;
}

}  // namespace platform::wayland
