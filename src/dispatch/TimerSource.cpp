#include "dispatch/TimerSource.h"

#include <cstdint>
#include <mutex>
#include <utility>

#include "dispatch/internal/EventLoop.h"

namespace dispatch {

struct TimerSource::State : std::enable_shared_from_this<State> {
    explicit State(std::shared_ptr<Queue> queue) : target(std::move(queue)) {}

    const std::shared_ptr<Queue> target;
    std::mutex mutex;
    std::shared_ptr<const Work> handler;  // guarded by mutex (shared so a delivery copies a pointer only)
    Work cancelHandler;                   // guarded
    bool programmed = false;              // guarded: setTimer was called
    Clock::time_point next;               // guarded: the next firing, unless oneShotDone
    Duration interval = kNever;           // guarded
    Duration leeway{0};                   // guarded
    bool oneShotDone = false;             // guarded
    int suspendCount = 1;                 // guarded: created suspended
    bool cancelled = false;               // guarded
    bool deliveryQueued = false;          // guarded: firings coalesce into a queued delivery
    bool missed = false;                  // guarded: a delivery found the timer suspended
    internal::EventLoop::Id timerId = 0;  // guarded: armed event-thread timer, 0 when none
    std::uint64_t generation = 0;         // guarded: tells a stale firing from the armed one

    bool canFireLocked() const { return programmed && !oneShotDone && suspendCount == 0 && !cancelled; }

    void armLocked() {
        disarmLocked();
        if (!canFireLocked()) return;
        timerId = internal::EventLoop::instance().addTimer(next, leeway,
                                                           [weak = weak_from_this(), gen = ++generation] {
                                                               if (auto self = weak.lock()) self->fired(gen);
                                                           });
    }

    void disarmLocked() {
        if (timerId != 0) internal::EventLoop::instance().cancelTimer(timerId);
        timerId = 0;
    }

    // On the event thread.
    void fired(std::uint64_t gen) {
        std::lock_guard lock(mutex);
        // Disarmed or re-programmed after the event thread picked this firing up.
        if (gen != generation || timerId == 0) return;
        timerId = 0;
        if (!canFireLocked()) return;
        advanceLocked();
        queueDeliveryLocked();
        armLocked();
    }

    // Moves `next` past now: firings missed meanwhile are coalesced into the one being delivered.
    void advanceLocked() {
        if (interval == kNever || interval <= Duration::zero()) {
            oneShotDone = true;
            return;
        }
        const auto now = Clock::now();
        if (next <= now) next += ((now - next) / interval + 1) * interval;
    }

    void queueDeliveryLocked() {
        if (deliveryQueued) return;
        deliveryQueued = true;
        target->async([self = shared_from_this()] { self->deliver(); });
    }

    // On the target queue.
    void deliver() {
        std::shared_ptr<const Work> work;
        {
            std::lock_guard lock(mutex);
            deliveryQueued = false;
            if (cancelled) return;
            if (suspendCount > 0) {
                missed = true;
                return;
            }
            work = handler;
        }
        if (work && *work) (*work)();
    }
};

std::shared_ptr<TimerSource> TimerSource::create(std::shared_ptr<Queue> target) {
    std::shared_ptr<TimerSource> source(new TimerSource());
    source->state_ = std::make_shared<State>(std::move(target));
    return source;
}

TimerSource::~TimerSource() {
    if (state_) cancel();
}

void TimerSource::setTimer(Clock::time_point start, Duration interval, Duration leeway) {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled) return;
    state_->programmed = true;
    state_->next = start;
    state_->interval = interval;
    state_->leeway = leeway < Duration::zero() ? Duration::zero() : leeway;
    state_->oneShotDone = false;
    state_->armLocked();
}

void TimerSource::setEventHandler(Work handler) {
    std::lock_guard lock(state_->mutex);
    state_->handler = std::make_shared<const Work>(std::move(handler));
}

void TimerSource::setCancelHandler(Work handler) {
    std::lock_guard lock(state_->mutex);
    state_->cancelHandler = std::move(handler);
}

void TimerSource::resume() {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled || state_->suspendCount == 0) return;
    if (--state_->suspendCount > 0) return;
    // A firing that fell due while suspended is delivered now, once (re-arming at a past time fires at once).
    if (std::exchange(state_->missed, false)) state_->queueDeliveryLocked();
    state_->armLocked();
}

void TimerSource::suspend() {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled) return;
    if (state_->suspendCount++ == 0) state_->disarmLocked();
}

void TimerSource::cancel() {
    Work cancelHandler;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->cancelled) return;
        state_->cancelled = true;
        state_->disarmLocked();
        cancelHandler = std::move(state_->cancelHandler);
        state_->handler.reset();
    }
    if (cancelHandler) state_->target->async(std::move(cancelHandler));
}

bool TimerSource::isCancelled() const {
    std::lock_guard lock(state_->mutex);
    return state_->cancelled;
}

}  // namespace dispatch
