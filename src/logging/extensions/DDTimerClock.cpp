#include "logging/extensions/DDTimerClock.h"

#include <utility>

namespace {

class SourceTimer : public DDTimerClock::Timer {
  public:
    SourceTimer(std::shared_ptr<dispatch::SerialQueue> queue, std::function<void()> handler)
        : source_(dispatch::TimerSource::create(std::move(queue))) {
        source_->setEventHandler(std::move(handler));
    }
    ~SourceTimer() override { source_->cancel(); }

    void setTimer(DDTimerClock::TimePoint start, DDTimerClock::Duration interval,
                  DDTimerClock::Duration leeway) override {
        source_->setTimer(start, interval, leeway);
    }
    void resume() override { source_->resume(); }
    void suspend() override { source_->suspend(); }
    void cancel() override { source_->cancel(); }

  private:
    std::shared_ptr<dispatch::TimerSource> source_;
};

class SystemClock : public DDTimerClock {
  public:
    TimePoint now() const override { return dispatch::TimerSource::Clock::now(); }
    std::unique_ptr<Timer> createTimer(std::shared_ptr<dispatch::SerialQueue> queue,
                                       std::function<void()> handler) override {
        return std::make_unique<SourceTimer>(std::move(queue), std::move(handler));
    }
};

}  // namespace

std::shared_ptr<DDTimerClock> DDTimerClock::system() {
    static const std::shared_ptr<DDTimerClock> clock = std::make_shared<SystemClock>();
    return clock;
}
