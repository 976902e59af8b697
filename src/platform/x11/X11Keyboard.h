#pragma once

#include "platform/Keyboard.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/internal/X11Desktop.h"

namespace platform::x11 {

// Key strokes through XTEST. The copy and paste commands become chords that work in GTK, Qt, Tk, browsers and
// Electron applications and that no terminal takes for an interrupt: Control+Insert copies, Shift+Insert
// pastes. A terminal (told by its window class) never gets a copy chord (its selection is read through
// PRIMARY instead); for pasting into it the text is also offered as PRIMARY, since terminals paste PRIMARY
// on Shift+Insert. Modifiers the user holds are released around the chord. The whole chord is struck at the
// key-down event; the matching key-up has nothing left to do.
//
// Before a copy chord the clipboard is taken over (still serving the user's contents) so that the copying
// application must take it again. Main thread only.
class X11Keyboard : public Keyboard {
  public:
    X11Keyboard(::x11::internal::X11Desktop& desktop, X11Pasteboard& pasteboard)
        : desktop_(desktop), pasteboard_(pasteboard) {}
    void postEvent(EventTapLocation location, const KeyboardEvent& event) override;
    bool copyChordWouldBeTyped() override;

  private:
    void copy();
    void paste();
    void plainKey(const KeyboardEvent& event);

    ::x11::internal::X11Desktop& desktop_;
    X11Pasteboard& pasteboard_;
};

}  // namespace platform::x11
