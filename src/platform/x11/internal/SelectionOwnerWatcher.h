#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "platform/x11/internal/Connection.h"

namespace x11::internal {

// Follows who owns some selections through XFixes selection-owner notifications on a shared connection.
// `changeCount` counts the times another client took the selection: windows registered with `ignoreOwner`
// (this process's own) do not count, so taking a selection over oneself does not look like an application
// copying. Called on the connection's thread; destroy before the connection.
class SelectionOwnerWatcher {
  public:
    struct State {
        ::Window owner = 0;
        ::Time timestamp = 0;         // the owner's selection time
        uint64_t foreignChanges = 0;  // takes by windows not ignored
        uint64_t notifications = 0;
    };

    SelectionOwnerWatcher(Connection& connection, std::vector<::Atom> selections);
    ~SelectionOwnerWatcher();
    SelectionOwnerWatcher(const SelectionOwnerWatcher&) = delete;
    SelectionOwnerWatcher& operator=(const SelectionOwnerWatcher&) = delete;

    void ignoreOwner(::Window window) { ignored_.insert(window); }
    // Called with the selection and its new state after each notification, as it is dispatched.
    void setOnChange(std::function<void(::Atom selection, const State& state)> onChange) {
        onChange_ = std::move(onChange);
    }
    // Up to date with every notification caused before the call (one round trip).
    State state(::Atom selection);
    // Blocks until a notification for `selection` with a selection time at or after `since` (wrap-safe) has
    // arrived, or `timeout` passed; true when one did (also when it had arrived before the call).
    bool waitForOwnerSince(::Atom selection, ::Time since, std::chrono::milliseconds timeout);

  private:
    bool handle(const XEvent& event);

    Connection& connection_;
    int eventBase_ = 0;
    int handler_ = 0;
    std::map<::Atom, State> states_;
    std::set<::Window> ignored_;
    std::function<void(::Atom, const State&)> onChange_;
};

}  // namespace x11::internal
