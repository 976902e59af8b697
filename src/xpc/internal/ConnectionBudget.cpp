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
    budget_->open_.fetch_sub(1);
}

bool ConnectionBudget::Slot::holdUnfinished(std::size_t bytes) {
    if (bytes > held_) {
        const std::size_t more = bytes - held_;
        const std::size_t before = budget_->unfinished_.fetch_add(more);
        if (before + more > budget_->maximumUnfinishedBytes_.load()) {
            budget_->unfinished_.fetch_sub(more);
            return false;
        }
    } else {
        budget_->unfinished_.fetch_sub(held_ - bytes);
    }
    held_ = bytes;
    return true;
}

}  // namespace xpc::internal
