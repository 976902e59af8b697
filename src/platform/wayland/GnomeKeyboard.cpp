#include "platform/wayland/GnomeKeyboard.h"

#include <cstdio>

namespace platform::wayland {

void GnomeKeyboard::postEvent(EventTapLocation, const KeyboardEvent& event) {
    if (!event.keyDown) return;
    bool sent = false;
    const char* what = "key";
    switch (editCommandOf(event)) {
        case EditCommand::Copy:
            sent = extension_.copy();
            what = "copy chord";
            break;
        case EditCommand::Paste:
            sent = extension_.paste();
            what = "paste chord";
            break;
        case EditCommand::None:
            break;
    }
    if (!sent && !toldUnsent_) {
        std::fprintf(
            stderr,
            "GnomeKeyboard: %s (virtual key code %u) not sent: the GNOME Shell extension %s strikes only "
            "the copy and paste chords, only while it is enabled, and no copy chord into a terminal\n",
            what, event.keyCode, ::wayland::internal::ShellExtension::kUuid);
        toldUnsent_ = true;
    }
}

}  // namespace platform::wayland
