#include "platform/wayland/internal/VirtualKeyboard.h"

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "platform/wayland/internal/Protocols.h"

namespace wayland::internal {

namespace {

// The keymap the compositor sends a keyboard of this seat: the user's layout and options.
std::string seatKeymap(Connection& connection) {
    if (!(connection.seatCapabilities() & WL_SEAT_CAPABILITY_KEYBOARD)) return {};
    struct Received {
        std::string text;
    } received;
    static const wl_keyboard_listener listener = {
        .keymap =
            [](void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
                auto* r = static_cast<Received*>(data);
                if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
                    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
                    if (map != MAP_FAILED) {
                        // The text ends with a NUL that is counted in the size.
                        r->text.assign(static_cast<const char*>(map),
                                       strnlen(static_cast<const char*>(map), size));
                        munmap(map, size);
                    }
                }
                close(fd);
            },
        .enter = [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
        .leave = [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
        .key = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
        .modifiers = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                        std::uint32_t) {},
        .repeat_info = [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
    };
    wl_keyboard* keyboard = wl_seat_get_keyboard(connection.seat());
    wl_keyboard_add_listener(keyboard, &listener, &received);
    connection.roundtrip();
    wl_keyboard_destroy(keyboard);
    return received.text;
}

std::uint32_t milliseconds() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<std::chrono::milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

std::unique_ptr<VirtualKeyboard> VirtualKeyboard::create(Connection& connection, std::string* why) {
    const bool virtualKeyboard = connection.virtualKeyboardManager() && connection.seat();
    if (!virtualKeyboard && !connection.fakeInput()) {
        if (why)
            *why = connection.isKWin()
                       ? "KWin offers fake input (org_kde_kwin_fake_input) only to a program whose installed "
                         ".desktop file declares X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input"
                       : "the compositor offers no virtual keyboard (zwp_virtual_keyboard_manager_v1)";
        return nullptr;
    }
    auto keyboard = std::unique_ptr<VirtualKeyboard>(new VirtualKeyboard());
    keyboard->connection_ = &connection;
    if (!keyboard->makeKeymap(why)) return nullptr;
    if (!virtualKeyboard) {
        keyboard->fakeInput_ = connection.fakeInput();
        org_kde_kwin_fake_input_authenticate(keyboard->fakeInput_, "tandrel-helper",
                                             "Pastes and copies text for the user's assistant");
        if (!connection.roundtrip()) {
            if (why) *why = "the compositor closed the connection on fake input";
            return nullptr;
        }
        return keyboard;
    }
    if (!keyboard->uploadKeymap(why)) return nullptr;
    return keyboard;
}

bool VirtualKeyboard::makeKeymap(std::string* why) {
    context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context_) {
        if (why) *why = "cannot create an XKB context";
        return false;
    }
    const std::string seat = seatKeymap(*connection_);
    if (!seat.empty())
        keymap_ = xkb_keymap_new_from_string(context_, seat.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                             XKB_KEYMAP_COMPILE_NO_FLAGS);
    // No keyboard on the seat yet: the defaults of the environment (XKB_DEFAULT_LAYOUT and the like), which
    // the compositor uses as well unless told otherwise.
    if (!keymap_) keymap_ = xkb_keymap_new_from_names(context_, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap_) {
        if (why) *why = "cannot compile a keymap";
        return false;
    }
    state_ = xkb_state_new(keymap_);
    char* text = xkb_keymap_get_as_string(keymap_, XKB_KEYMAP_FORMAT_TEXT_V1);
    keymapText_ = text ? text : "";
    free(text);
    return true;
}

bool VirtualKeyboard::uploadKeymap(std::string* why) {
    // The keymap travels as a file the compositor maps.
    const std::size_t size = keymapText_.size() + 1;
    int fd = memfd_create("tandrel-keymap", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0 ||
        pwrite(fd, keymapText_.c_str(), size, 0) != static_cast<ssize_t>(size)) {
        if (fd >= 0) close(fd);
        if (why) *why = "cannot hand the keymap to the compositor";
        return false;
    }
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(connection_->virtualKeyboardManager(),
                                                                        connection_->seat());
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<std::uint32_t>(size));
    close(fd);
    if (!connection_->roundtrip()) {
        if (why) *why = "the compositor refused the virtual keyboard";
        return false;
    }
    return true;
}

VirtualKeyboard::~VirtualKeyboard() {
    if (keyboard_) {
        zwp_virtual_keyboard_v1_destroy(keyboard_);
        connection_->flush();
    }
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    if (context_) xkb_context_unref(context_);
}

xkb_keycode_t VirtualKeyboard::keycodeOf(xkb_keysym_t keysym) const {
    const xkb_keycode_t first = xkb_keymap_min_keycode(keymap_);
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap_);
    for (xkb_keycode_t code = first; code <= last; ++code) {
        const xkb_keysym_t* syms = nullptr;
        const int n = xkb_keymap_key_get_syms_by_level(keymap_, code, 0, 0, &syms);
        for (int i = 0; i < n; ++i)
            if (syms[i] == keysym) return code;
    }
    return XKB_KEYCODE_INVALID;
}

void VirtualKeyboard::send(xkb_keycode_t keycode, bool down) {
    // Evdev numbers on the wire, XKB's are 8 higher.
    if (!keyboard_) {
        org_kde_kwin_fake_input_keyboard_key(
            fakeInput_, keycode - 8, down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        return;
    }
    zwp_virtual_keyboard_v1_key(keyboard_, milliseconds(), keycode - 8,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    xkb_state_update_key(state_, keycode, down ? XKB_KEY_DOWN : XKB_KEY_UP);
    zwp_virtual_keyboard_v1_modifiers(keyboard_, xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
                                      xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED),
                                      xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED),
                                      xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE));
}

bool VirtualKeyboard::strike(const std::vector<xkb_keysym_t>& modifiers, xkb_keysym_t key) {
    std::vector<xkb_keycode_t> held;
    for (xkb_keysym_t modifier : modifiers) {
        held.push_back(keycodeOf(modifier));
        if (held.back() == XKB_KEYCODE_INVALID) return false;
    }
    const xkb_keycode_t code = keycodeOf(key);
    if (code == XKB_KEYCODE_INVALID) return false;
    for (xkb_keycode_t modifier : held) send(modifier, true);
    send(code, true);
    send(code, false);
    for (auto it = held.rbegin(); it != held.rend(); ++it) send(*it, false);
    connection_->flush();
    return !connection_->isBroken();
}

}  // namespace wayland::internal
