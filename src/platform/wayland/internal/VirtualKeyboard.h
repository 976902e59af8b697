#pragma once

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wayland/internal/Connection.h"

struct zwp_virtual_keyboard_v1;
struct org_kde_kwin_fake_input;

namespace wayland::internal {

// One long-lived virtual keyboard on the seat. It uploads the user's keymap once (the one the compositor
// gives its clients' keyboards, else the XKB defaults of the environment) and keeps it: toolkits do not paste
// from a keyboard whose keymap changes with every chord. Keys are named by keysym and struck on the key that
// produces them in the first layout.
//
// Where the compositor offers no virtual keyboard but KWin's fake input, keys go through that instead: KWin
// keeps the modifiers' state and uses its own keymap, so only key numbers travel, looked up in the keymap the
// compositor gives its clients.
//
// Who calls it: the main thread. Striking only queues requests and flushes them; it never waits for the
// focused application.
class VirtualKeyboard {
  public:
    // Null when the compositor offers neither a virtual keyboard nor fake input, or no keymap can be made
    // (`why` says which).
    static std::unique_ptr<VirtualKeyboard> create(Connection& connection, std::string* why = nullptr);
    ~VirtualKeyboard();
    VirtualKeyboard(const VirtualKeyboard&) = delete;
    VirtualKeyboard& operator=(const VirtualKeyboard&) = delete;

    // Presses `modifiers` in order, strikes `key`, releases the modifiers in reverse order. False when a key
    // has no place in the keymap (nothing is sent then) or the connection broke.
    bool strike(const std::vector<xkb_keysym_t>& modifiers, xkb_keysym_t key);

    // The keymap uploaded, as XKB text (for tests).
    const std::string& keymapText() const { return keymapText_; }

  private:
    VirtualKeyboard() = default;
    bool makeKeymap(std::string* why);
    bool uploadKeymap(std::string* why);
    xkb_keycode_t keycodeOf(xkb_keysym_t keysym) const;
    void send(xkb_keycode_t keycode, bool down);

    Connection* connection_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    org_kde_kwin_fake_input* fakeInput_ = nullptr;  // the connection's; used where keyboard_ is null
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    std::string keymapText_;
};

}  // namespace wayland::internal
