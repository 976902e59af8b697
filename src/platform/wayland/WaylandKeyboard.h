#pragma once

#include "platform/Keyboard.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/internal/WaylandDesktop.h"

namespace platform::wayland {

// Key strokes through the desktop's one virtual keyboard (KWin's fake input on KWin). As on X11 the copy and paste commands become chords
// that GTK, Qt, browsers and Electron applications understand and that no terminal takes for an interrupt:
// Control+Insert copies, Shift+Insert pastes. A terminal (the activated window's app id, where the compositor
// lists its windows) gets no copy chord. Terminals paste PRIMARY on Shift+Insert, so pasting also offers the
// clipboard's text as PRIMARY, unless the compositor says the frontmost application is no terminal (the
// user's PRIMARY then stays). The
// whole chord is struck at the key-down event; the matching key-up has nothing left to do. The virtual
// keyboard's modifiers are its own: what the user holds on a real keyboard does not join the chord.
//
// Without a virtual keyboard nothing is sent (said once on standard error). Main thread only.
class WaylandKeyboard : public Keyboard {
  public:
    WaylandKeyboard(::wayland::internal::WaylandDesktop& desktop, WaylandPasteboard& pasteboard)
        : desktop_(desktop), pasteboard_(pasteboard) {}
    void postEvent(EventTapLocation location, const KeyboardEvent& event) override;
    bool copyChordWouldBeTyped() override { return desktop_.frontmostIsTerminal().value_or(false); }

  private:
    void strike(const std::vector<unsigned>& modifiers, unsigned key);

    ::wayland::internal::WaylandDesktop& desktop_;
    WaylandPasteboard& pasteboard_;
    bool toldMissing_ = false;
};

}  // namespace platform::wayland
