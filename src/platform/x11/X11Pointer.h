#pragma once

#include "platform/Pointer.h"
#include "platform/x11/internal/X11Desktop.h"

namespace platform::x11 {

// The pointer position, y flipped against the primary monitor (see PointerLocator). Main thread only.
class X11Pointer : public Pointer {
  public:
    explicit X11Pointer(::x11::internal::X11Desktop& desktop) : desktop_(desktop) {}
    Point mouseLocation() override;

  private:
    ::x11::internal::X11Desktop& desktop_;
};

}  // namespace platform::x11
