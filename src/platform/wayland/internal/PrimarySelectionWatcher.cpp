#include "platform/wayland/internal/PrimarySelectionWatcher.h"

namespace wayland::internal {

PrimarySelectionWatcher::PrimarySelectionWatcher(DataControl& dataControl, platform::Scheduler& scheduler,
                                                 Announce announce, std::chrono::milliseconds settleTime)
    : dataControl_(dataControl),
      scheduler_(scheduler),
      announce_(std::move(announce)),
      settleTime_(settleTime) {
    handler_ = dataControl_.addChangeHandler([this](Selection selection) {
        if (selection == Selection::Primary) onChange();
    });
}

PrimarySelectionWatcher::~PrimarySelectionWatcher() {
    dataControl_.removeChangeHandler(handler_);
    if (pending_) pending_->cancel();
}

void PrimarySelectionWatcher::onChange() {
    // Every change restarts the wait: only the state the selection settles in counts.
    if (pending_) pending_->cancel();
    pending_.reset();
    if (dataControl_.isOwn(Selection::Primary) || dataControl_.types(Selection::Primary).empty()) return;
    pending_ = dispatch::WorkItem::create([this] { settled(); });
    scheduler_.scheduleAfter(settleTime_, pending_);
}

void PrimarySelectionWatcher::settled() {
    pending_.reset();
    auto text = dataControl_.readText(Selection::Primary, kReadTimeout);
    if (!text || text->empty() || *text == lastAnnounced_) return;
    lastAnnounced_ = *text;
    // The announcement may destroy this watcher: call a copy, and touch nothing after it.
    auto announce = announce_;
    announce(*text);
}

}  // namespace wayland::internal
