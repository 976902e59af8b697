#include "platform/wayland/internal/ForeignToplevels.h"

#include <algorithm>
#include <string_view>

#include "platform/wayland/internal/Protocols.h"

namespace wayland::internal {

namespace {

// Version 3 only adds the parent event, which nothing here needs; asking for it costs nothing.
constexpr std::uint32_t kHighestVersion = 3;

}  // namespace

std::unique_ptr<ForeignToplevels> ForeignToplevels::create(Connection& connection) {
    if (connection.isBroken()) return nullptr;
    auto list = std::unique_ptr<ForeignToplevels>(new ForeignToplevels(connection));
    // A registry of its own: the connection's announced the globals before this object existed.
    list->registry_ = wl_display_get_registry(connection.display());
    static const wl_registry_listener listener = {.global = &ForeignToplevels::global,
                                                  .global_remove = [](void*, wl_registry*, std::uint32_t) {}};
    wl_registry_add_listener(list->registry_, &listener, list.get());
    // The first round trip binds the manager, the second brings the windows that exist.
    if (!connection.roundtrip() || !list->manager_ || !connection.roundtrip()) return nullptr;
    return list;
}

ForeignToplevels::~ForeignToplevels() {
    for (auto& [handle, entry] : toplevels_) zwlr_foreign_toplevel_handle_v1_destroy(handle);
    if (manager_) {
        // Stop first, so that the compositor sends nothing more to the object this side forgets.
        zwlr_foreign_toplevel_manager_v1_stop(manager_);
        zwlr_foreign_toplevel_manager_v1_destroy(manager_);
    }
    if (registry_) wl_registry_destroy(registry_);
    connection_.flush();
}

void ForeignToplevels::global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                              std::uint32_t version) {
    auto* self = static_cast<ForeignToplevels*>(data);
    if (std::string_view(interface) != zwlr_foreign_toplevel_manager_v1_interface.name || self->manager_)
        return;
    self->manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
        registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, kHighestVersion)));
    static const zwlr_foreign_toplevel_manager_v1_listener listener = {
        .toplevel = &ForeignToplevels::added,
        .finished =
            [](void* data, zwlr_foreign_toplevel_manager_v1*) {
                // The compositor destroyed the manager; the windows already known stay until closed.
                static_cast<ForeignToplevels*>(data)->manager_ = nullptr;
            },
    };
    zwlr_foreign_toplevel_manager_v1_add_listener(self->manager_, &listener, self);
}

void ForeignToplevels::added(void* data, zwlr_foreign_toplevel_manager_v1*,
                             zwlr_foreign_toplevel_handle_v1* handle) {
    static_cast<ForeignToplevels*>(data)->track(handle);
}

void ForeignToplevels::track(zwlr_foreign_toplevel_handle_v1* handle) {
    Entry& entry = toplevels_[handle];
    entry.current.id = entry.pending.id = nextId_++;
    static const zwlr_foreign_toplevel_handle_v1_listener listener = {
        .title =
            [](void* data, zwlr_foreign_toplevel_handle_v1* h, const char* title) {
                static_cast<ForeignToplevels*>(data)->toplevels_[h].pending.title = title;
            },
        .app_id =
            [](void* data, zwlr_foreign_toplevel_handle_v1* h, const char* appId) {
                static_cast<ForeignToplevels*>(data)->toplevels_[h].pending.appId = appId;
            },
        .output_enter = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
        .output_leave = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
        .state =
            [](void* data, zwlr_foreign_toplevel_handle_v1* h, wl_array* states) {
                bool activated = false;
                const auto* state = static_cast<const std::uint32_t*>(states->data);
                for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i)
                    activated |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
                static_cast<ForeignToplevels*>(data)->toplevels_[h].pendingActivated = activated;
            },
        .done =
            [](void* data, zwlr_foreign_toplevel_handle_v1* h) {
                Entry& e = static_cast<ForeignToplevels*>(data)->toplevels_[h];
                e.current = e.pending;
                e.activated = e.pendingActivated;
            },
        .closed =
            [](void* data, zwlr_foreign_toplevel_handle_v1* h) {
                static_cast<ForeignToplevels*>(data)->toplevels_.erase(h);
                zwlr_foreign_toplevel_handle_v1_destroy(h);
            },
        .parent = [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
    };
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &listener, this);
}

std::optional<ForeignToplevels::Toplevel> ForeignToplevels::activated() const {
    for (const auto& [handle, entry] : toplevels_)
        if (entry.activated) return entry.current;
    return std::nullopt;
}

}  // namespace wayland::internal
