#include "dispatch/SerialQueue.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch/internal/Handoff.h"
#include "dispatch/internal/QueueStack.h"
#include "dispatch/internal/WorkerPool.h"

namespace dispatch {

namespace {
// Items a drain runs before it yields its worker thread to other queues.
constexpr std::size_t kDrainBatch = 256;
// How long a drain that found work streaming in keeps its thread after the queue ran dry, watching for the
// next item. Giving the queue up and being woken for the next item costs the producer a thread wake-up,
// several times the cost of an item, on every refill.
constexpr std::chrono::microseconds kLinger(50);

void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

struct MakeShared : SerialQueue {
    MakeShared(std::string label, Qos qos) : SerialQueue(std::move(label), qos) {}
};
}  // namespace

struct SerialQueue::State {
    // A queued asynchronous item, or the place of a blocked synchronous caller (`handoff` set): when its turn
    // comes the queue is handed to that caller, which runs its item on its own thread.
    struct Item {
        Work work;
        internal::Handoff* handoff = nullptr;
    };

    std::mutex mutex;
    std::deque<Item> items;  // guarded by mutex
    // items.size(), written under mutex, read without it by a lingering drain.
    std::atomic<std::size_t> queued{0};
    // Guarded by mutex. True from the moment a drain is scheduled (or a synchronous caller takes the queue)
    // until the queue is found empty by its owner: at most one owner at a time.
    bool busy = false;
    // Set for the main queue: wakes the run loop instead of scheduling a drain on a worker.
    std::function<void()> externalWake;
};

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label, Qos qos) {
    return std::make_shared<MakeShared>(std::move(label), qos);
}

SerialQueue::SerialQueue(std::string label, Qos qos)
    : Queue(std::move(label), qos), state_(std::make_unique<State>()) {}

SerialQueue::~SerialQueue() = default;

void SerialQueue::async(Work work) {
    bool schedule;
    {
        std::lock_guard lock(state_->mutex);
        state_->items.push_back({std::move(work), nullptr});
        state_->queued.store(state_->items.size(), std::memory_order_relaxed);
        schedule = !state_->busy;
        state_->busy = true;
    }
    if (schedule) scheduleDrain();
}

void SerialQueue::sync(const Work& work) {
    if (state_->externalWake) {
        // The main queue runs its items on the main thread only.
        internal::Handoff done;
        async([&] {
            work();
            done.signal();
        });
        done.wait();
        return;
    }
    internal::Handoff turn;
    bool wait;
    {
        std::lock_guard lock(state_->mutex);
        wait = state_->busy;
        if (wait) {
            state_->items.push_back({nullptr, &turn});
            state_->queued.store(state_->items.size(), std::memory_order_relaxed);
        } else {
            state_->busy = true;
        }
    }
    if (wait) turn.wait();
    // This thread owns the queue now: run the item here, then pass the queue on.
    struct Releaser {
        SerialQueue* queue;
        ~Releaser() { queue->release(); }
    } releaser{this};
    internal::QueueScope scope(this);
    work();
}

void SerialQueue::release() {
    internal::Handoff* next = nullptr;
    {
        std::lock_guard lock(state_->mutex);
        auto& items = state_->items;
        if (items.empty()) {
            state_->busy = false;
            return;
        }
        if (items.front().handoff) {
            next = items.front().handoff;
            items.pop_front();
            state_->queued.store(items.size(), std::memory_order_relaxed);
        }
    }
    if (next) {
        next->signal();
    } else {
        scheduleDrain();
    }
}

void SerialQueue::setExternalWake(std::function<void()> wake) {
    state_->externalWake = std::move(wake);
}

void SerialQueue::scheduleDrain() {
    if (state_->externalWake) {
        state_->externalWake();
        return;
    }
    auto self = std::static_pointer_cast<SerialQueue>(shared_from_this());
    internal::WorkerPool::instance().submit([self = std::move(self)] {
        auto& pool = internal::WorkerPool::instance();
        while (self->drainSome(kDrainBatch)) {
            // Yield the thread only when other work waits for one.
            if (pool.hasQueuedTasks()) {
                self->scheduleDrain();
                return;
            }
        }
    });
}

bool SerialQueue::lingerForWork() {
    const auto until = std::chrono::steady_clock::now() + kLinger;
    for (unsigned spin = 1;; ++spin) {
        if (state_->queued.load(std::memory_order_relaxed) != 0) return true;
        if (spin % 64 == 0) {
            if (std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::yield();  // a producer may be waiting for this processor
        } else {
            cpuRelax();
        }
    }
}

bool SerialQueue::drainSome(std::size_t limit) {
    // Everything queued is taken in one swap, so the lock is held for a moment whatever the batch size:
    // producers adding items never wait behind the drain for long.
    std::deque<State::Item> batch;
    std::size_t done = 0;
    bool lingered = false;
    std::unique_lock lock(state_->mutex);
    auto& items = state_->items;
    for (;;) {
        if (items.empty()) {
            // Work that came one item at a time ends here; a stream is watched a little longer (the main
            // queue's drain belongs to the run loop and never lingers).
            if (done < 2 || lingered || state_->externalWake) {
                state_->busy = false;
                return false;
            }
            lock.unlock();
            lingered = !lingerForWork();
            lock.lock();
            continue;
        }
        lingered = false;
        if (auto* next = items.front().handoff) {
            items.pop_front();
            state_->queued.store(items.size(), std::memory_order_relaxed);
            lock.unlock();
            next->signal();
            return false;
        }
        if (done >= limit) return true;
        batch.swap(items);
        state_->queued.store(0, std::memory_order_relaxed);
        lock.unlock();
        {
            internal::QueueScope scope(this);
            while (!batch.empty() && !batch.front().handoff) {
                const Work work = std::move(batch.front().work);
                batch.pop_front();
                work();  // its captures are destroyed before the next item, outside the lock
                ++done;
            }
        }
        lock.lock();
        if (!batch.empty()) {
            // A synchronous caller's turn has come: it and the items behind it go back in front of anything
            // queued meanwhile.
            items.insert(items.begin(), std::make_move_iterator(batch.begin()),
                         std::make_move_iterator(batch.end()));
            batch.clear();
            state_->queued.store(items.size(), std::memory_order_relaxed);
        }
    }
}

}  // namespace dispatch
