#include "platform/x11/internal/SelectionOwnerWatcher.h"

#include <X11/extensions/Xfixes.h>

namespace x11::internal {

namespace {
bool atOrAfter(::Time t, ::Time since) {
    return static_cast<int32_t>(static_cast<uint32_t>(t - since)) >= 0;
}
}  // namespace

SelectionOwnerWatcher::SelectionOwnerWatcher(Connection& connection, std::vector<::Atom> selections)
    : connection_(connection) {
    int errorBase = 0;
    if (!XFixesQueryExtension(connection_.get(), &eventBase_, &errorBase)) return;
    for (::Atom selection : selections) {
        State state;
        state.owner = XGetSelectionOwner(connection_.get(), selection);
        states_[selection] = state;
        XFixesSelectSelectionInput(connection_.get(), connection_.root(), selection,
                                   XFixesSetSelectionOwnerNotifyMask |
                                       XFixesSelectionWindowDestroyNotifyMask |
                                       XFixesSelectionClientCloseNotifyMask);
    }
    handler_ = connection_.addHandler([this](XEvent& event) { return handle(event); });
}

SelectionOwnerWatcher::~SelectionOwnerWatcher() {
    if (!handler_) return;
    connection_.removeHandler(handler_);
    if (connection_.isBroken()) return;
    for (const auto& [selection, state] : states_)
        XFixesSelectSelectionInput(connection_.get(), connection_.root(), selection, 0);
}

bool SelectionOwnerWatcher::handle(const XEvent& event) {
    if (event.type != eventBase_ + XFixesSelectionNotify) return false;
    const auto& notify = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
    auto found = states_.find(notify.selection);
    if (found == states_.end()) return false;
    State& state = found->second;
    state.owner = notify.owner;
    state.timestamp = notify.selection_timestamp;
    ++state.notifications;
    if (notify.subtype == XFixesSetSelectionOwnerNotify && notify.owner != None &&
        !ignored_.count(notify.owner))
        ++state.foreignChanges;
    if (onChange_) onChange_(notify.selection, state);
    return true;
}

SelectionOwnerWatcher::State SelectionOwnerWatcher::state(::Atom selection) {
    connection_.dispatchPending(true);
    return states_[selection];
}

bool SelectionOwnerWatcher::waitForOwnerSince(::Atom selection, ::Time since,
                                              std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    auto satisfied = [&] {
        const State& s = states_[selection];
        return s.notifications > 0 && s.owner != None && atOrAfter(s.timestamp, since);
    };
    connection_.dispatchPending();
    while (!satisfied()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        auto event = connection_.waitFor(
            [&](const XEvent& e) { return e.type == eventBase_ + XFixesSelectionNotify; }, left);
        if (!event) return false;
        XEvent copy = *event;
        connection_.dispatchEvent(copy);
    }
    return true;
}

}  // namespace x11::internal
