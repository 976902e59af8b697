#pragma once

#include "platform/Keyboard.h"
#include "platform/wayland/internal/ShellExtension.h"

namespace platform::wayland {

// Key strokes on GNOME Shell go through the helper's Shell extension, which strikes only the copy chord
// (Control+Insert; never into a terminal, which would type it) and the paste chord (Shift+Insert, with the
// clipboard's text also offered as PRIMARY for terminals) on its own virtual keyboard. The whole chord is
// struck at the key-down event. Other keys cannot be sent (said once on standard error). Main thread only.
class GnomeKeyboard : public Keyboard {
  public:
    explicit GnomeKeyboard(::wayland::internal::ShellExtension& extension) : extension_(extension) {}
    void postEvent(EventTapLocation location, const KeyboardEvent& event) override;

  private:
    ::wayland::internal::ShellExtension& extension_;
    bool toldUnsent_ = false;
};

}  // namespace platform::wayland
