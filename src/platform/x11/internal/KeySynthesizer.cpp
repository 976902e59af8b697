#include "platform/x11/internal/KeySynthesizer.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace x11::internal {

KeySynthesizer::KeySynthesizer(Connection& connection) : connection_(connection) {
    int event = 0, error = 0, major = 0, minor = 0;
    haveXTest_ = XTestQueryExtension(connection_.get(), &event, &error, &major, &minor);
}

std::vector<::KeyCode> KeySynthesizer::heldModifiers() {
    ::Display* dpy = connection_.get();
    std::vector<::KeyCode> held;
    char keys[32];
    XQueryKeymap(dpy, keys);
    XModifierKeymap* map = XGetModifierMapping(dpy);
    if (!map) return held;
    for (int modifier = 0; modifier < 8; ++modifier) {
        if (modifier == LockMapIndex) continue;
        for (int i = 0; i < map->max_keypermod; ++i) {
            ::KeyCode code = map->modifiermap[modifier * map->max_keypermod + i];
            if (code == 0 || !(keys[code / 8] & (1 << (code % 8)))) continue;
            ::KeySym sym = XkbKeycodeToKeysym(dpy, code, 0, 0);
            if (sym == XK_Num_Lock || sym == XK_Caps_Lock || sym == XK_Scroll_Lock) continue;
            bool seen = false;
            for (auto h : held) seen = seen || h == code;
            if (!seen) held.push_back(code);
        }
    }
    XFreeModifiermap(map);
    return held;
}

bool KeySynthesizer::strike(const std::vector<::KeySym>& modifiers, ::KeySym key) {
    ::Display* dpy = connection_.get();
    if (!haveXTest_) return false;
    std::vector<::KeyCode> chord;
    for (::KeySym sym : modifiers) {
        ::KeyCode code = XKeysymToKeycode(dpy, sym);
        if (code == 0) return false;
        chord.push_back(code);
    }
    ::KeyCode keyCode = XKeysymToKeycode(dpy, key);
    if (keyCode == 0) return false;
    auto held = heldModifiers();
    for (::KeyCode code : held) XTestFakeKeyEvent(dpy, code, False, CurrentTime);
    for (::KeyCode code : chord) XTestFakeKeyEvent(dpy, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy, keyCode, True, CurrentTime);
    XTestFakeKeyEvent(dpy, keyCode, False, CurrentTime);
    for (auto it = chord.rbegin(); it != chord.rend(); ++it) XTestFakeKeyEvent(dpy, *it, False, CurrentTime);
    // The user still holds these keys: give the server its state back.
    for (::KeyCode code : held) XTestFakeKeyEvent(dpy, code, True, CurrentTime);
    XFlush(dpy);
    return true;
}

}  // namespace x11::internal
