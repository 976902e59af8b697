#pragma once

#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ext_data_control_manager_v1;
struct zwlr_data_control_manager_v1;
struct zwp_virtual_keyboard_manager_v1;
struct org_kde_kwin_fake_input;
struct zwlr_layer_shell_v1;
struct zxdg_output_manager_v1;

namespace wayland::internal {

// One client connection to the compositor with the globals the backend binds: the first seat, data control,
// the virtual keyboard manager or KWin's fake input, layer shell, the outputs and their places, the
// compositor and shared memory. Disconnects when destroyed.
//
// Who calls it: the thread that owns it (the main thread in the service). Not thread-safe. `roundtrip` blocks
// until the compositor has answered every request made before it, or the connection broke. A connection whose
// compositor went away is marked broken and does nothing more.
class Connection {
  public:
    // `name` is a display name or an absolute socket path; empty for $WAYLAND_DISPLAY. Null when no
    // compositor answers (`why` gets the reason).
    static std::unique_ptr<Connection> open(const std::string& name = {}, std::string* why = nullptr);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    wl_display* display() const { return display_; }
    int fd() const { return wl_display_get_fd(display_); }
    bool isBroken() const { return broken_; }

    wl_seat* seat() const { return seat_; }
    // WL_SEAT_CAPABILITY_* bits the seat announced last.
    std::uint32_t seatCapabilities() const { return seatCapabilities_; }
    wl_compositor* compositor() const { return compositor_; }
    wl_shm* shm() const { return shm_; }
    // Data control: the standard protocol where offered, else the wlroots one from version 2 (the first
    // with PRIMARY); both null when neither is offered.
    ext_data_control_manager_v1* extDataControlManager() const { return extDataControl_; }
    zwlr_data_control_manager_v1* wlrDataControlManager() const { return wlrDataControl_; }
    zwp_virtual_keyboard_manager_v1* virtualKeyboardManager() const { return virtualKeyboard_; }
    // KWin's fake input from version 4 (the first with keys); offered only to programs KWin trusts.
    org_kde_kwin_fake_input* fakeInput() const { return fakeInput_; }
    zwlr_layer_shell_v1* layerShell() const { return layerShell_; }
    zxdg_output_manager_v1* outputManager() const { return outputManager_; }
    // Whether the compositor is KWin (it offers KWin's own globals).
    bool isKWin() const { return kwin_; }
    // The outputs announced so far, in announcement order.
    std::vector<wl_output*> outputs() const;
    wl_registry* registry() const { return registry_; }

    // Sends what is buffered and waits for the compositor to answer it, dispatching every event that arrives
    // meanwhile; false when the connection broke.
    bool roundtrip();
    // Reads what the compositor sent without blocking, dispatches it and sends what is buffered.
    void dispatchAvailable();
    // Sends what is buffered.
    void flush();

  private:
    Connection() = default;
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void globalRemove(void* data, wl_registry*, std::uint32_t name);
    bool check(int result);

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    ext_data_control_manager_v1* extDataControl_ = nullptr;
    zwlr_data_control_manager_v1* wlrDataControl_ = nullptr;
    zwp_virtual_keyboard_manager_v1* virtualKeyboard_ = nullptr;
    org_kde_kwin_fake_input* fakeInput_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    zxdg_output_manager_v1* outputManager_ = nullptr;
    std::vector<std::pair<std::uint32_t, wl_output*>> outputs_;  // by global name
    std::uint32_t seatCapabilities_ = 0;
    bool kwin_ = false;
    bool broken_ = false;
};

}  // namespace wayland::internal
