#include "platform/wayland/internal/Connection.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/wayland/internal/Protocols.h"

namespace wayland::internal {

namespace {

// PRIMARY arrived in version 2 of data control; version 1 cannot serve the selection signal.
constexpr std::uint32_t kMinimumWlrDataControlVersion = 2;
// Keys arrived in version 4 of fake input.
constexpr std::uint32_t kMinimumFakeInputVersion = 4;

}  // namespace

std::unique_ptr<Connection> Connection::open(const std::string& name, std::string* why) {
    wl_display* display = wl_display_connect(name.empty() ? nullptr : name.c_str());
    if (!display) {
        if (why) *why = "cannot connect to the Wayland compositor: " + std::string(std::strerror(errno));
        return nullptr;
    }
    auto connection = std::unique_ptr<Connection>(new Connection());
    connection->display_ = display;
    connection->registry_ = wl_display_get_registry(display);
    static const wl_registry_listener listener = {.global = &Connection::global,
                                                  .global_remove = &Connection::globalRemove};
    wl_registry_add_listener(connection->registry_, &listener, connection.get());
    // The first round trip binds the globals, the second brings their initial events (seat capabilities).
    if (!connection->roundtrip() || !connection->roundtrip()) {
        if (why) *why = "the Wayland compositor closed the connection";
        return nullptr;
    }
    return connection;
}

Connection::~Connection() {
    if (extDataControl_) ext_data_control_manager_v1_destroy(extDataControl_);
    if (wlrDataControl_) zwlr_data_control_manager_v1_destroy(wlrDataControl_);
    if (virtualKeyboard_) zwp_virtual_keyboard_manager_v1_destroy(virtualKeyboard_);
    if (fakeInput_) org_kde_kwin_fake_input_destroy(fakeInput_);
    if (layerShell_) zwlr_layer_shell_v1_destroy(layerShell_);
    if (outputManager_) zxdg_output_manager_v1_destroy(outputManager_);
    for (auto& [name, output] : outputs_) wl_output_destroy(output);
    if (seat_) wl_seat_destroy(seat_);
    if (compositor_) wl_compositor_destroy(compositor_);
    if (shm_) wl_shm_destroy(shm_);
    if (registry_) wl_registry_destroy(registry_);
    if (display_) wl_display_disconnect(display_);
}

void Connection::global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                        std::uint32_t version) {
    auto* self = static_cast<Connection*>(data);
    const std::string_view which = interface;
    if (which.rfind("org_kde_kwin_", 0) == 0) self->kwin_ = true;
    auto bind = [&](const wl_interface* type, std::uint32_t highest) {
        return wl_registry_bind(registry, name, type, std::min(version, highest));
    };
    if (which == wl_seat_interface.name && !self->seat_) {
        self->seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface, 1));
        static const wl_seat_listener seatListener = {
            .capabilities =
                [](void* data, wl_seat*, std::uint32_t capabilities) {
                    static_cast<Connection*>(data)->seatCapabilities_ = capabilities;
                },
            .name = [](void*, wl_seat*, const char*) {},
        };
        wl_seat_add_listener(self->seat_, &seatListener, self);
    } else if (which == wl_compositor_interface.name && !self->compositor_) {
        self->compositor_ = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (which == wl_shm_interface.name && !self->shm_) {
        self->shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (which == ext_data_control_manager_v1_interface.name && !self->extDataControl_) {
        self->extDataControl_ =
            static_cast<ext_data_control_manager_v1*>(bind(&ext_data_control_manager_v1_interface, 1));
    } else if (which == zwlr_data_control_manager_v1_interface.name && !self->wlrDataControl_ &&
               version >= kMinimumWlrDataControlVersion) {
        self->wlrDataControl_ =
            static_cast<zwlr_data_control_manager_v1*>(bind(&zwlr_data_control_manager_v1_interface, 2));
    } else if (which == zwp_virtual_keyboard_manager_v1_interface.name && !self->virtualKeyboard_) {
        self->virtualKeyboard_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
            bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (which == org_kde_kwin_fake_input_interface.name && !self->fakeInput_ &&
               version >= kMinimumFakeInputVersion) {
        self->fakeInput_ = static_cast<org_kde_kwin_fake_input*>(bind(&org_kde_kwin_fake_input_interface, 4));
    } else if (which == wl_output_interface.name) {
        self->outputs_.emplace_back(name, static_cast<wl_output*>(bind(&wl_output_interface, 1)));
    } else if (which == zxdg_output_manager_v1_interface.name && !self->outputManager_) {
        self->outputManager_ =
            static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 2));
    } else if (which == zwlr_layer_shell_v1_interface.name && !self->layerShell_) {
        self->layerShell_ = static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, 1));
    }
}

void Connection::globalRemove(void* data, wl_registry*, std::uint32_t name) {
    // Only outputs come and go while a session runs.
    auto& outputs = static_cast<Connection*>(data)->outputs_;
    for (auto it = outputs.begin(); it != outputs.end(); ++it) {
        if (it->first != name) continue;
        wl_output_destroy(it->second);
        outputs.erase(it);
        return;
    }
}

std::vector<wl_output*> Connection::outputs() const {
    std::vector<wl_output*> list;
    for (const auto& [name, output] : outputs_) list.push_back(output);
    return list;
}

bool Connection::check(int result) {
    if (result < 0) broken_ = true;
    return !broken_;
}

bool Connection::roundtrip() {
    if (broken_) return false;
    return check(wl_display_roundtrip(display_));
}

void Connection::dispatchAvailable() {
    if (broken_) return;
    // Events already read (by a round trip, say) first; then whatever the socket holds, without blocking.
    if (!check(wl_display_dispatch_pending(display_))) return;
    while (wl_display_prepare_read(display_) != 0) {
        if (!check(wl_display_dispatch_pending(display_))) return;
    }
    flush();
    pollfd pfd{fd(), POLLIN, 0};
    if (poll(&pfd, 1, 0) > 0) {
        if (!check(wl_display_read_events(display_))) return;
    } else {
        wl_display_cancel_read(display_);
    }
    check(wl_display_dispatch_pending(display_));
    flush();
}

void Connection::flush() {
    if (broken_) return;
    // EAGAIN only means the socket is full; the rest goes out with the next flush.
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) broken_ = true;
}

}  // namespace wayland::internal
