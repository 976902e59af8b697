#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/wayland/internal/Connection.h"

struct wl_registry;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

namespace wayland::internal {

// The compositor's list of top-level windows (wlr foreign toplevel management), where it offers one: which
// window is activated and its app id, so that the frontmost application has a name and terminals can be told
// apart. Each window's state is taken as a whole at the compositor's "done".
//
// Who calls it: the owner of the connection, on its thread (the main thread). It learns of changes only while
// the connection's events are dispatched; it never blocks after `create`.
class ForeignToplevels {
  public:
    struct Toplevel {
        std::uint64_t id = 0;  // ours, never reused within the process
        std::string appId;
        std::string title;
    };

    // Null when the compositor offers no toplevel list. Makes two round trips to learn the current windows.
    static std::unique_ptr<ForeignToplevels> create(Connection& connection);
    ~ForeignToplevels();
    ForeignToplevels(const ForeignToplevels&) = delete;
    ForeignToplevels& operator=(const ForeignToplevels&) = delete;

    // The activated window as the compositor last said; nothing while none is (the focus may be on a panel,
    // a lock screen or nothing).
    std::optional<Toplevel> activated() const;

  private:
    struct Entry {
        Toplevel current;
        Toplevel pending;
        bool activated = false;
        bool pendingActivated = false;
    };

    explicit ForeignToplevels(Connection& connection) : connection_(connection) {}
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void added(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle);
    void track(zwlr_foreign_toplevel_handle_v1* handle);

    Connection& connection_;
    wl_registry* registry_ = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    std::map<zwlr_foreign_toplevel_handle_v1*, Entry> toplevels_;
    std::uint64_t nextId_ = 1;
};

}  // namespace wayland::internal
