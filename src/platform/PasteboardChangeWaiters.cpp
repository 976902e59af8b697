#include "platform/PasteboardChangeWaiters.h"

#include <algorithm>

namespace platform {

struct PasteboardChangeWaiters::Waiter {
    std::int64_t since = 0;
    bool endOnUserInput = false;
    Scheduler* scheduler = nullptr;
    Done done;
    std::shared_ptr<dispatch::WorkItem> timeout;
    bool settled = false;
};

void PasteboardChangeWaiters::add(std::int64_t since, std::int64_t count, std::chrono::nanoseconds bound,
                                  bool endOnUserInput, Scheduler& scheduler, Done done) {
    auto waiter = std::make_shared<Waiter>();
    waiter->since = since;
    waiter->endOnUserInput = endOnUserInput;
    waiter->scheduler = &scheduler;
    waiter->done = std::move(done);
    if (count != since) {
        settle(waiter, true);
        return;
    }
    waiter->timeout = dispatch::WorkItem::create([weak = std::weak_ptr<Waiter>(waiter)] {
        if (auto waiter = weak.lock()) settle(waiter, false);
    });
    scheduler.scheduleAfter(bound, waiter->timeout);
    waiters_.push_back(std::move(waiter));
}

void PasteboardChangeWaiters::changed(std::int64_t count) {
    for (const auto& waiter : waiters_) {
        if (count != waiter->since) settle(waiter, true);
    }
    prune();
}

void PasteboardChangeWaiters::userInput() {
    for (const auto& waiter : waiters_) {
        if (waiter->endOnUserInput) settle(waiter, false);
    }
    prune();
}

bool PasteboardChangeWaiters::watchesUserInput() const {
    return std::any_of(waiters_.begin(), waiters_.end(),
                       [](const auto& waiter) { return waiter->endOnUserInput && !waiter->settled; });
}

void PasteboardChangeWaiters::settle(const std::shared_ptr<Waiter>& waiter, bool changed) {
    if (waiter->settled) return;
    waiter->settled = true;
    if (waiter->timeout) waiter->timeout->cancel();
    waiter->scheduler->scheduleAfter(
        std::chrono::nanoseconds(0),
        dispatch::WorkItem::create([done = std::move(waiter->done), changed] { done(changed); }));
}

void PasteboardChangeWaiters::prune() {
    std::erase_if(waiters_, [](const auto& waiter) { return waiter->settled; });
}

}  // namespace platform
