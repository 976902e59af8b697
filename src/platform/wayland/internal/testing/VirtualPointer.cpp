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
    pointer->connection_ = internal::Connection::open(socket, why);
    if (!pointer->connection_) return nullptr;
    // The connection binds what the backend uses; the virtual pointer is the tests' own.
    pointer->registry_ = wl_display_get_registry(pointer->connection_->display());
    static const wl_registry_listener listener = {
        .global =
            [](void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
                auto* self = static_cast<VirtualPointer*>(data);
                if (std::string_view(interface) == zwlr_virtual_pointer_manager_v1_interface.name)
                    self->manager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
                        wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
            },
        .global_remove = [](void*, wl_registry*, std::uint32_t) {},
    };
    wl_registry_add_listener(pointer->registry_, &listener, pointer.get());
    pointer->connection_->roundtrip();
    auto* fakeInput = pointer->connection_->fakeInput();
    if (pointer->manager_ && pointer->connection_->seat()) {
        pointer->pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(
            pointer->manager_, pointer->connection_->seat());
    } else if (fakeInput) {
        org_kde_kwin_fake_input_authenticate(fakeInput, "tests", "pointer gestures of tests");
    } else {
        if (why) *why = "the compositor offers neither a virtual pointer nor fake input";
        return nullptr;
    }
    pointer->connection_->roundtrip();
    return pointer;
}

VirtualPointer::~VirtualPointer() {
    if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
    if (manager_) zwlr_virtual_pointer_manager_v1_destroy(manager_);
    if (registry_) wl_registry_destroy(registry_);
}

void VirtualPointer::moveTo(int x, int y) {
    if (pointer_) {
        zwlr_virtual_pointer_v1_motion_absolute(pointer_, now(), static_cast<std::uint32_t>(x),
                                                static_cast<std::uint32_t>(y), 1280, 800);
        zwlr_virtual_pointer_v1_frame(pointer_);
    } else {
        org_kde_kwin_fake_input_pointer_motion_absolute(connection_->fakeInput(), wl_fixed_from_int(x),
                                                        wl_fixed_from_int(y));
    }
    connection_->roundtrip();
}

void VirtualPointer::button(bool down) {
    const auto state = down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED;
    if (pointer_) {
        zwlr_virtual_pointer_v1_button(pointer_, now(), BTN_LEFT, state);
        zwlr_virtual_pointer_v1_frame(pointer_);
    } else {
        org_kde_kwin_fake_input_button(connection_->fakeInput(), BTN_LEFT, state);
    }
    connection_->roundtrip();
}

}  // namespace wayland::testing
