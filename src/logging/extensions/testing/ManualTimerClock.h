#pragma once

// For tests: a DDTimerClock that stands still until `advance` moves it. A running timer whose time has come
// is then delivered once on its queue (firings missed in one step coalesce, as with timer sources), and its
// next time moves past the new now. Safe from any thread.

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "logging/extensions/DDTimerClock.h"

namespace logging::internal::testing {

class ManualTimerClock : public DDTimerClock, public std::enable_shared_from_this<ManualTimerClock> {
  public:
    TimePoint now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }

    std::unique_ptr<Timer> createTimer(std::shared_ptr<dispatch::SerialQueue> queue,
                                       std::function<void()> handler) override {
        auto state = std::make_shared<State>();
        state->queue = std::move(queue);
        state->handler = std::move(handler);
        std::lock_guard lock(mutex_);
        states_.push_back(state);
        return std::make_unique<ManualTimer>(shared_from_this(), state);
    }

    void advance(Duration by) {
        std::lock_guard lock(mutex_);
        now_ += by;
        for (const auto& weak : states_) {
            if (const auto state = weak.lock()) fireIfDueLocked(state);
        }
    }

    // Timers not cancelled; of those, the ones running (started, not suspended).
    int liveTimers() const {
        return count([](const State& s) { return !s.cancelled; });
    }
    int runningTimers() const {
        return count([](const State& s) { return !s.cancelled && s.suspendCount == 0; });
    }

  private:
    struct State {
        std::shared_ptr<dispatch::SerialQueue> queue;
        std::function<void()> handler;
        bool programmed = false;
        TimePoint next{};
        Duration interval{};
        int suspendCount = 1;
        bool cancelled = false;
        bool missed = false;
    };

    class ManualTimer : public Timer {
      public:
        ManualTimer(std::shared_ptr<ManualTimerClock> clock, std::shared_ptr<State> state)
            : clock_(std::move(clock)), state_(std::move(state)) {}
        ~ManualTimer() override { cancel(); }
        void setTimer(TimePoint start, Duration interval, Duration) override {
            std::lock_guard lock(clock_->mutex_);
            state_->programmed = true;
            state_->next = start;
            state_->interval = interval;
            clock_->fireIfDueLocked(state_);
        }
        void resume() override {
            std::lock_guard lock(clock_->mutex_);
            if (state_->cancelled || state_->suspendCount == 0 || --state_->suspendCount > 0) return;
            if (std::exchange(state_->missed, false)) clock_->deliverLocked(state_);
            clock_->fireIfDueLocked(state_);
        }
        void suspend() override {
            std::lock_guard lock(clock_->mutex_);
            ++state_->suspendCount;
        }
        void cancel() override {
            std::lock_guard lock(clock_->mutex_);
            state_->cancelled = true;
        }

      private:
        std::shared_ptr<ManualTimerClock> clock_;
        std::shared_ptr<State> state_;
    };

    void fireIfDueLocked(const std::shared_ptr<State>& s) {
        if (s->cancelled || s->suspendCount > 0 || !s->programmed || s->next > now_) return;
        if (s->interval <= Duration::zero()) s->programmed = false;  // one-shot
        while (s->programmed && s->next <= now_) s->next += s->interval;
        deliverLocked(s);
    }

    void deliverLocked(const std::shared_ptr<State>& s) {
        s->queue->async([this, self = shared_from_this(), s] {
            std::unique_lock lock(mutex_);
            if (s->cancelled) return;
            if (s->suspendCount > 0) {
                s->missed = true;
                return;
            }
            lock.unlock();
            s->handler();
        });
    }

    template <typename Predicate>
    int count(Predicate predicate) const {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count_if(states_.begin(), states_.end(), [&](const auto& weak) {
            const auto state = weak.lock();
            return state && predicate(*state);
        }));
    }

    mutable std::mutex mutex_;
    TimePoint now_ = dispatch::TimerSource::Clock::now();
    std::vector<std::weak_ptr<State>> states_;
};

}  // namespace logging::internal::testing
