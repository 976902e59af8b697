#include "xpc/internal/ConnectionBudget.h"

namespace xpc::internal {

std::unique_ptr<ConnectionBudget::Slot> ConnectionBudget::tryOpen() {
    std::size_t open = open_.load();
    do {
        if (open >= maximumConnections_.load()) return nullptr;
    } while (!open_.compare_exchange_weak(open, open + 1));
    return std::make_unique<Slot>(shared_from_this());
}

ConnectionBudget::Slot::~Slot() {
    budget_->unfinished_.fetch_sub(held_);
    budget_->pendingOutput_.fetch_sub(heldOutput_);
    budget_->open_.fetch_sub(1);
}

bool ConnectionBudget::Slot::holdUnfinished(std::size_t bytes) {
    return hold(budget_->unfinished_, budget_->maximumUnfinishedBytes_, held_, bytes);
}

bool ConnectionBudget::Slot::holdPendingOutput(std::size_t bytes) {
    return hold(budget_->pendingOutput_, budget_->maximumPendingOutputBytes_, heldOutput_, bytes);
}

bool ConnectionBudget::hold(std::atomic<std::size_t>& total, const std::atomic<std::size_t>& limit,
                            std::size_t& held, std::size_t bytes) {
    if (bytes > held) {
        const std::size_t more = bytes - held;
        const std::size_t before = total.fetch_add(more);
        if (before + more > limit.load()) {
            total.fetch_sub(more);
            return false;
        }
    } else {
        total.fetch_sub(held - bytes);
    }
    held = bytes;
    return true;
}

}  // namespace xpc::internal
