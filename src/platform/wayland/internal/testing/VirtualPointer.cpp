#include "platform/wayland/internal/testing/VirtualPointer.h"

#include <linux/input-event-codes.h>

#include <chrono>
#include <string_view>

#include "platform/wayland/internal/Protocols.h"

namespace wayland::testing {

namespace {

std::uint32_t now() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

std::unique_ptr<VirtualPointer> VirtualPointer::create(const std::string& socket, std::string* why) {
    auto pointer = std::unique_ptr<VirtualPointer>(new VirtualPointer());
    pointer->display_ = wl_display_connect(socket.c_str());
    if (!pointer->display_) {
        if (why) *why = "cannot connect to " + socket;
        return nullptr;
    }
    pointer->registry_ = wl_display_get_registry(pointer->display_);
    static const wl_registry_listener listener = {
        .global =
            [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
               std::uint32_t version) {
                auto* self = static_cast<VirtualPointer*>(data);
                const std::string_view which = interface;
                if (which == wl_seat_interface.name && !self->seat_)
                    self->seat_ =
                        static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
                if (which == zwlr_virtual_pointer_manager_v1_interface.name && !self->manager_)
                    self->manager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
                        wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
                // Absolute motion arrived in version 3.
                if (which == org_kde_kwin_fake_input_interface.name && !self->fakeInput_ && version >= 3)
                    self->fakeInput_ = static_cast<org_kde_kwin_fake_input*>(
                        wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 3));
            },
        .global_remove = [](void*, wl_registry*, std::uint32_t) {},
    };
    wl_registry_add_listener(pointer->registry_, &listener, pointer.get());
    wl_display_roundtrip(pointer->display_);
    if (!pointer->manager_ && pointer->fakeInput_) {
        org_kde_kwin_fake_input_authenticate(pointer->fakeInput_, "tests", "pointer gestures of tests");
        pointer->sync();
        return pointer;
    }
    if (!pointer->manager_ || !pointer->seat_) {
        if (why) *why = "the compositor offers neither a virtual pointer nor fake input";
        return nullptr;
    }
    pointer->pointer_ =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointer->manager_, pointer->seat_);
    pointer->sync();
    return pointer;
}

VirtualPointer::~VirtualPointer() {
    if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
    if (manager_) zwlr_virtual_pointer_manager_v1_destroy(manager_);
    if (fakeInput_) org_kde_kwin_fake_input_destroy(fakeInput_);
    if (seat_) wl_seat_destroy(seat_);
    if (registry_) wl_registry_destroy(registry_);
    if (display_) wl_display_disconnect(display_);
}

void VirtualPointer::moveTo(int x, int y, int width, int height) {
    if (!pointer_) {
        org_kde_kwin_fake_input_pointer_motion_absolute(fakeInput_, wl_fixed_from_int(x),
                                                        wl_fixed_from_int(y));
        sync();
        return;
    }
    zwlr_virtual_pointer_v1_motion_absolute(pointer_, now(), static_cast<std::uint32_t>(x),
                                            static_cast<std::uint32_t>(y), static_cast<std::uint32_t>(width),
                                            static_cast<std::uint32_t>(height));
    zwlr_virtual_pointer_v1_frame(pointer_);
    sync();
}

void VirtualPointer::button(bool down) {
    if (!pointer_) {
        org_kde_kwin_fake_input_button(
            fakeInput_, BTN_LEFT, down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
        sync();
        return;
    }
    zwlr_virtual_pointer_v1_button(pointer_, now(), BTN_LEFT,
                                   down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(pointer_);
    sync();
}

void VirtualPointer::sync() {
    wl_display_roundtrip(display_);
}

}  // namespace wayland::testing
