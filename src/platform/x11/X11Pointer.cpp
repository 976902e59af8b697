#include "platform/x11/X11Pointer.h"

#include "platform/x11/internal/PointerLocator.h"

namespace platform::x11 {

Point X11Pointer::mouseLocation() {
    auto location = ::x11::internal::PointerLocator::location(desktop_.connection());
    desktop_.settle();
    if (!location) return {};
    return Point{location->first, location->second};
}

}  // namespace platform::x11
