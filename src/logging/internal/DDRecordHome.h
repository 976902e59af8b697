#pragma once

#include <atomic>
#include <cstddef>
#include <string>

class DDLogMessage;

namespace logging::internal {

// Sends the memory of the dispatcher's records back to the thread that made them.
//
// A record is made on the logging thread and usually dies on a worker thread after delivery. Freed there, its
// blocks land in the allocator arena of the logging thread from another thread, and the two threads then
// fight over that arena on every line: that was the largest single cost of an asynchronous line. Instead the
// record's last owner pushes the whole block onto its home thread's return list (one compare-and-swap), and
// the home thread destroys and frees the returned records (and their texts, which go the same way) in a batch
// the next time it logs, where the
// allocator's thread cache takes them back without a lock.
//
// A thread that ends closes its home: records still out are then destroyed by whoever drops them last. A home
// deletes itself when it is closed and no record of it is left. Thread-safe.
class RecordHome {
  public:
    // The calling thread's home, or null while the thread is being torn down.
    static RecordHome* current();

    // On the home thread: destroys and frees records that have come back, a few per call.
    void collect() {
        if (pending_ != nullptr || returned_.load(std::memory_order_relaxed) != nullptr) collectReturned();
    }

    // For HomeAllocator.
    static void* allocateBlock(RecordHome* home, std::size_t size);
    static void returnBlock(void* payload);
    // Names the object living in the block this thread allocated last (the one allocate_shared just made) and
    // how the home thread destroys it.
    using Destroy = void (*)(const void* object);
    static void adoptLastBlock(const void* object, Destroy destroy);
    // The same for the two kinds of objects the dispatcher makes: records and their texts.
    static void adoptLastBlock(const DDLogMessage* record);
    static void adoptLastBlock(const std::string* text);

    ~RecordHome() = default;
    RecordHome(const RecordHome&) = delete;
    RecordHome& operator=(const RecordHome&) = delete;

    struct Block;

  private:
    RecordHome() = default;
    void collectReturned();
    void close();
    // Destroys the records of `list`; keeps their blocks for reuse when `keep` (the home thread) has room.
    static long destroyList(Block* list, RecordHome* keep);
    void release(long count);

    // Home-thread only: emptied blocks kept for the next objects, one list per block size (a record's and a
    // text's).
    static constexpr int kMaxSpare = 4096;
    struct Spares {
        std::size_t size = 0;
        Block* list = nullptr;
        int count = 0;
    };
    Spares spares_[2];
    // Home-thread only: blocks taken back from `returned_` and not yet finished.
    static constexpr int kCollectBatch = 16;
    Block* pending_ = nullptr;
    Spares* sparesFor(std::size_t size);

    alignas(64) std::atomic<Block*> returned_{nullptr};  // pushed by any thread, taken by the home thread
    alignas(64) std::atomic<long> outstanding_{1};       // blocks not yet freed, +1 while the thread lives

    friend struct HomeCloser;
};

// The allocator for `std::allocate_shared` of dispatcher records: blocks come from and go back to a home.
// `destroy` leaves the record alone: the home thread destroys it when the block comes back.
template <typename T>
struct HomeAllocator {
    using value_type = T;

    explicit HomeAllocator(RecordHome* h) : home(h) {}
    template <typename U>
    HomeAllocator(const HomeAllocator<U>& other) : home(other.home) {}

    T* allocate(std::size_t n) { return static_cast<T*>(RecordHome::allocateBlock(home, n * sizeof(T))); }
    void deallocate(T* p, std::size_t) { RecordHome::returnBlock(p); }
    template <typename U>
    void destroy(U*) {}

    template <typename U>
    bool operator==(const HomeAllocator<U>& other) const {
        return home == other.home;
    }

    RecordHome* home;
};

}  // namespace logging::internal
