#include "platform/sim/SimScheduler.h"

#include <algorithm>

namespace platform::sim {

void SimScheduler::scheduleAfter(Duration delay, std::shared_ptr<dispatch::WorkItem> item) {
    if (!item) return;
    entries_.push_back({now_ + std::max(delay, Duration{0}), nextSequence_++, std::move(item)});
}

bool SimScheduler::popDue(Duration limit, Entry& out) {
    auto earliest = std::min_element(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
    });
    if (earliest == entries_.end() || earliest->due > limit) return false;
    out = std::move(*earliest);
    entries_.erase(earliest);
    return true;
}

void SimScheduler::advance(Duration by) {
    const Duration target = now_ + std::max(by, Duration{0});
    Entry entry;
    while (popDue(target, entry)) {
        now_ = std::max(now_, entry.due);
        entry.item->perform();
    }
    now_ = target;
}

std::size_t SimScheduler::runAll() {
    std::size_t ran = 0;
    Entry entry;
    while (popDue(Duration::max(), entry)) {
        now_ = std::max(now_, entry.due);
        if (!entry.item->isCancelled()) ++ran;
        entry.item->perform();
    }
    return ran;
}

std::size_t SimScheduler::pendingCount() const {
    return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(),
                                                  [](const Entry& e) { return !e.item->isCancelled(); }));
}

SimScheduler::Duration SimScheduler::nextDueTime() const {
    Duration next = Duration::max();
    for (const auto& entry : entries_) {
        if (!entry.item->isCancelled()) next = std::min(next, entry.due);
    }
    return next;
}

}  // namespace platform::sim
