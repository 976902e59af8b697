#include "logging/internal/DDRecordHome.h"

#include <cstdlib>
#include <memory>
#include <new>

#include "logging/DDLogMessage.h"

namespace logging::internal {

struct alignas(16) RecordHome::Block {
    Block* next;
    RecordHome* home;
    const DDLogMessage* record;  // null until adopted (or when construction failed)
};

namespace {

RecordHome::Block* const kClosed = reinterpret_cast<RecordHome::Block*>(alignof(std::max_align_t));

thread_local RecordHome* tl_home = nullptr;
thread_local bool tl_torndown = false;
thread_local void* tl_lastBlock = nullptr;

}  // namespace

struct HomeCloser {
    ~HomeCloser() {
        tl_torndown = true;
        if (tl_home != nullptr) tl_home->close();
        tl_home = nullptr;
    }
};

RecordHome* RecordHome::current() {
    if (tl_home != nullptr) return tl_home;
    if (tl_torndown) return nullptr;
    thread_local HomeCloser closer;
    (void)closer;
    tl_home = std::unique_ptr<RecordHome>(new RecordHome()).release();  // owns itself, see release()
    return tl_home;
}

void* RecordHome::allocateBlock(RecordHome* home, std::size_t size) {
    void* raw;
    if (home->spare_ != nullptr && size == home->blockSize_) {
        Block* spare = home->spare_;
        home->spare_ = spare->next;
        --home->spareCount_;
        spare->~Block();
        raw = spare;
    } else {
        raw = std::malloc(sizeof(Block) + size);
        if (raw == nullptr) throw std::bad_alloc();
        if (home->blockSize_ == 0) home->blockSize_ = size;
    }
    auto* block = new (raw) Block{nullptr, home, nullptr};
    home->outstanding_.fetch_add(1, std::memory_order_relaxed);
    tl_lastBlock = block;
    return block + 1;
}

void RecordHome::adoptLastBlock(const DDLogMessage* record) {
    static_cast<Block*>(tl_lastBlock)->record = record;
    tl_lastBlock = nullptr;
}

void RecordHome::returnBlock(void* payload) {
    Block* block = static_cast<Block*>(payload) - 1;
    RecordHome* home = block->home;
    Block* head = home->returned_.load(std::memory_order_relaxed);
    do {
        if (head == kClosed) {
            // The home thread has ended: nobody will collect, so finish the record here.
            block->next = nullptr;
            home->release(destroyList(block, nullptr));
            return;
        }
        block->next = head;
    } while (!home->returned_.compare_exchange_weak(head, block, std::memory_order_release,
                                                    std::memory_order_relaxed));
}

void RecordHome::collectReturned() {
    Block* list = returned_.exchange(nullptr, std::memory_order_acquire);
    // Cannot reach zero here: the living thread holds one count.
    outstanding_.fetch_sub(destroyList(list, this), std::memory_order_relaxed);
}

void RecordHome::close() {
    Block* list = returned_.exchange(kClosed, std::memory_order_acquire);
    long count = destroyList(list, nullptr);
    while (spare_ != nullptr) {
        Block* next = spare_->next;
        spare_->~Block();
        std::free(spare_);
        spare_ = next;
    }
    release(count + 1);
}

void RecordHome::release(long count) {
    if (outstanding_.fetch_sub(count, std::memory_order_acq_rel) == count) {
        std::unique_ptr<RecordHome> self(this);
    }
}

long RecordHome::destroyList(Block* list, RecordHome* keep) {
    long count = 0;
    while (list != nullptr) {
        Block* next = list->next;
        if (list->record != nullptr) list->record->~DDLogMessage();
        if (keep != nullptr && keep->spareCount_ < kMaxSpare) {
            list->next = keep->spare_;
            keep->spare_ = list;
            ++keep->spareCount_;
        } else {
            list->~Block();
            std::free(list);
        }
        list = next;
        ++count;
    }
    return count;
}

}  // namespace logging::internal
