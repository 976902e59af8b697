#include "platform/x11/X11Keyboard.h"

#include <X11/keysym.h>

#include <cstdio>

namespace platform::x11 {

void X11Keyboard::postEvent(EventTapLocation, const KeyboardEvent& event) {
    switch (editCommandOf(event)) {
        case EditCommand::Copy:
            if (event.keyDown) copy();
            break;
        case EditCommand::Paste:
            if (event.keyDown) paste();
            break;
        default:  // EditCommand::None (a name Xlib's macros hide)
            if (event.keyDown) plainKey(event);
            break;
    }
    desktop_.settle();
}

bool X11Keyboard::copyChordWouldBeTyped() {
    const bool typed = desktop_.frontmost().involvesTerminal();
    desktop_.settle();
    return typed;
}

void X11Keyboard::copy() {
    // A terminal would type the chord instead of copying.
    if (desktop_.frontmost().involvesTerminal()) return;
    pasteboard_.takeOverForCopy();
    desktop_.keys().strike({XK_Control_L}, XK_Insert);
}

void X11Keyboard::paste() {
    if (desktop_.frontmost().involvesTerminal()) desktop_.primary().own(pasteboard_.servedValues());
    desktop_.keys().strike({XK_Shift_L}, XK_Insert);
}

void X11Keyboard::plainKey(const KeyboardEvent& event) {
    ::KeySym key = NoSymbol;
    if (event.keyCode == kVK_ANSI_C) key = XK_c;
    if (event.keyCode == kVK_ANSI_V) key = XK_v;
    if (key == NoSymbol) {
        std::fprintf(stderr, "X11Keyboard: no key for virtual key code %u; nothing sent\n", event.keyCode);
        return;
    }
    std::vector<::KeySym> modifiers;
    if (event.flags & kEventFlagMaskShift) modifiers.push_back(XK_Shift_L);
    if (event.flags & (kEventFlagMaskControl | kEventFlagMaskCommand)) modifiers.push_back(XK_Control_L);
    if (event.flags & kEventFlagMaskAlternate) modifiers.push_back(XK_Alt_L);
    desktop_.keys().strike(modifiers, key);
}

}  // namespace platform::x11
