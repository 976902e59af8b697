#include "dispatch/ConcurrentQueue.h"

#include <deque>
#include <mutex>

#include "dispatch/internal/Handoff.h"
#include "dispatch/internal/QueueStack.h"
#include "dispatch/internal/WorkerPool.h"

namespace dispatch {

// A waiting item, or the place of a blocked synchronous caller (`handoff` set) that runs its item itself once
// it may start.
struct ConcurrentQueue::Item {
    Work work;
    internal::Handoff* handoff = nullptr;
    bool barrier = false;
};

struct ConcurrentQueue::State {
    explicit State(bool global) : isGlobal(global) {}
    const bool isGlobal;  // barriers are plain items on the global queues
    std::mutex mutex;
    std::deque<Item> pending;     // guarded by mutex: not yet started, in submission order
    std::size_t running = 0;      // guarded: items started and not finished
    bool barrierRunning = false;  // guarded
};

std::shared_ptr<ConcurrentQueue> ConcurrentQueue::create(std::string label, Qos qos) {
    return std::shared_ptr<ConcurrentQueue>(new ConcurrentQueue(std::move(label), qos, false));
}

ConcurrentQueue::ConcurrentQueue(std::string label, Qos qos, bool isGlobal)
    : Queue(std::move(label), qos), state_(std::make_unique<State>(isGlobal)) {}

ConcurrentQueue::~ConcurrentQueue() = default;

void ConcurrentQueue::async(Work work) {
    submit(std::move(work), false);
}
void ConcurrentQueue::asyncBarrier(Work work) {
    submit(std::move(work), true);
}
void ConcurrentQueue::sync(const Work& work) {
    syncItem(work, false);
}
void ConcurrentQueue::syncBarrier(const Work& work) {
    syncItem(work, true);
}

void ConcurrentQueue::submit(Work work, bool barrier) {
    std::lock_guard lock(state_->mutex);
    state_->pending.push_back({std::move(work), nullptr, barrier && !state_->isGlobal});
    startReadyLocked();
}

void ConcurrentQueue::syncItem(const Work& work, bool barrier) {
    internal::Handoff turn;
    const bool isBarrier = barrier && !state_->isGlobal;
    {
        std::lock_guard lock(state_->mutex);
        state_->pending.push_back({nullptr, &turn, isBarrier});
        startReadyLocked();
    }
    turn.wait();
    struct Finisher {
        ConcurrentQueue* queue;
        bool barrier;
        ~Finisher() { queue->finished(barrier); }
    } finisher{this, isBarrier};
    internal::QueueScope scope(this);
    work();
}

void ConcurrentQueue::startReadyLocked() {
    auto& pending = state_->pending;
    while (!pending.empty() && !state_->barrierRunning) {
        Item& head = pending.front();
        if (head.barrier && state_->running > 0) break;
        Item item = std::move(head);
        pending.pop_front();
        start(item);
    }
}

void ConcurrentQueue::start(Item& item) {
    ++state_->running;
    if (item.barrier) state_->barrierRunning = true;
    if (item.handoff) {
        item.handoff->signal();
        return;
    }
    auto self = std::static_pointer_cast<ConcurrentQueue>(shared_from_this());
    internal::WorkerPool::instance().submit(
        [self = std::move(self), work = std::move(item.work), barrier = item.barrier]() mutable {
            {
                internal::QueueScope scope(self.get());
                work();
            }
            work = nullptr;
            self->finished(barrier);
        });
}

void ConcurrentQueue::finished(bool barrier) {
    std::lock_guard lock(state_->mutex);
    --state_->running;
    if (barrier) state_->barrierRunning = false;
    startReadyLocked();
}

}  // namespace dispatch
