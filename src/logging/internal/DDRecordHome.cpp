#include "logging/internal/DDRecordHome.h"

#include <cstdlib>
#include <memory>
#include <new>

#include "logging/DDLogMessage.h"

namespace logging::internal {

struct alignas(16) RecordHome::Block {
    Block* next;
    RecordHome* home;
    std::size_t size;    // of the payload
    const void* object;  // null until adopted (or when construction failed)
    RecordHome::Destroy destroy;
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

RecordHome::Spares* RecordHome::sparesFor(std::size_t size) {
    for (Spares& spares : spares_) {
        if (spares.size == size) return &spares;
        if (spares.size == 0) {
            spares.size = size;
            return &spares;
        }
    }
    return nullptr;
}

void* RecordHome::allocateBlock(RecordHome* home, std::size_t size) {
    void* raw;
    Spares* spares = home->sparesFor(size);
    if (spares != nullptr && spares->list != nullptr) {
        Block* spare = spares->list;
        spares->list = spare->next;
        --spares->count;
        spare->~Block();
        raw = spare;
    } else {
        raw = std::malloc(sizeof(Block) + size);
        if (raw == nullptr) throw std::bad_alloc();
    }
    auto* block = new (raw) Block{nullptr, home, size, nullptr, nullptr};
    home->outstanding_.fetch_add(1, std::memory_order_relaxed);
    tl_lastBlock = block;
    return block + 1;
}

void RecordHome::adoptLastBlock(const void* object, Destroy destroy) {
    auto* block = static_cast<Block*>(tl_lastBlock);
    block->object = object;
    block->destroy = destroy;
    tl_lastBlock = nullptr;
}

void RecordHome::adoptLastBlock(const DDLogMessage* record) {
    adoptLastBlock(record,
                   [](const void* object) { static_cast<const DDLogMessage*>(object)->~DDLogMessage(); });
}

void RecordHome::adoptLastBlock(const std::string* text) {
    adoptLastBlock(text, [](const void* object) {
        using std::string;
        static_cast<const string*>(object)->~string();
    });
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
    if (pending_ == nullptr) pending_ = returned_.exchange(nullptr, std::memory_order_acquire);
    // A few at a time (a line returns two blocks): finishing a thousand records in one call made that call a
    // latency spike for whichever line happened to collect them.
    Block* batch = pending_;
    Block* last = nullptr;
    for (int n = 0; n < kCollectBatch && pending_ != nullptr; ++n) {
        last = pending_;
        pending_ = pending_->next;
    }
    if (last != nullptr) last->next = nullptr;
    // Cannot reach zero here: the living thread holds one count.
    outstanding_.fetch_sub(destroyList(batch, this), std::memory_order_relaxed);
}

void RecordHome::close() {
    Block* list = returned_.exchange(kClosed, std::memory_order_acquire);
    long count = destroyList(pending_, nullptr) + destroyList(list, nullptr);
    pending_ = nullptr;
    for (Spares& spares : spares_) {
        while (spares.list != nullptr) {
            Block* next = spares.list->next;
            spares.list->~Block();
            std::free(spares.list);
            spares.list = next;
        }
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
        // Destroying a record may return its text to this list's home: pushed onto `returned_`, collected
        // next time.
        if (list->object != nullptr) list->destroy(list->object);
        Spares* spares = keep != nullptr ? keep->sparesFor(list->size) : nullptr;
        if (spares != nullptr && spares->count < kMaxSpare) {
            list->next = spares->list;
            spares->list = list;
            ++spares->count;
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
