#include "platform/wayland/WaylandKeyboard.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <cstdio>

namespace platform::wayland {

void WaylandKeyboard::postEvent(EventTapLocation, const KeyboardEvent& event) {
    if (!event.keyDown) return;
    switch (editCommandOf(event)) {
        case EditCommand::Copy:
            // A terminal would type the chord instead of copying.
            if (!copyChordWouldBeTyped()) strike({XKB_KEY_Control_L}, XKB_KEY_Insert);
            return;
        case EditCommand::Paste:
            if (auto text = pasteboard_.servedText(); text && desktop_.frontmostIsTerminal().value_or(true))
                desktop_.dataControl().serve(::wayland::internal::Selection::Primary,
                                             {{"text/plain;charset=utf-8", *text}, {"UTF8_STRING", *text}});
            strike({XKB_KEY_Shift_L}, XKB_KEY_Insert);
            return;
        case EditCommand::None:
            break;
    }
    unsigned key = XKB_KEY_NoSymbol;
    if (event.keyCode == kVK_ANSI_C) key = XKB_KEY_c;
    if (event.keyCode == kVK_ANSI_V) key = XKB_KEY_v;
    if (key == XKB_KEY_NoSymbol) {
        std::fprintf(stderr, "WaylandKeyboard: no key for virtual key code %u; nothing sent\n",
                     event.keyCode);
        return;
    }
    std::vector<unsigned> modifiers;
    if (event.flags & kEventFlagMaskShift) modifiers.push_back(XKB_KEY_Shift_L);
    if (event.flags & (kEventFlagMaskControl | kEventFlagMaskCommand)) modifiers.push_back(XKB_KEY_Control_L);
    if (event.flags & kEventFlagMaskAlternate) modifiers.push_back(XKB_KEY_Alt_L);
    strike(modifiers, key);
}

void WaylandKeyboard::strike(const std::vector<unsigned>& modifiers, unsigned key) {
    auto* keyboard = desktop_.keyboard();
    if (!keyboard) {
        if (!toldMissing_)
            std::fprintf(stderr, "WaylandKeyboard: no key strokes: %s\n", desktop_.keyboardMissing().c_str());
        toldMissing_ = true;
        return;
    }
    keyboard->strike(std::vector<xkb_keysym_t>(modifiers.begin(), modifiers.end()), key);
}

}  // namespace platform::wayland
