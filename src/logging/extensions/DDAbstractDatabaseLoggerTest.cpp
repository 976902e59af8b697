#include "logging/extensions/DDAbstractDatabaseLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "logging/DDLog.h"
#include "logging/internal/FileLoggingTestSupport.h"

namespace {

using logging::internal::testing::eventually;
using namespace std::chrono_literals;

// Stands still until `advance` moves it, so that minutes of schedule take no time. A running timer whose time
// has come then fires once on its queue (missed firings coalesce, as with timer sources) and its next time
// moves past the new now.
class ManualClock : public DDTimerClock, public std::enable_shared_from_this<ManualClock> {
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
        return std::make_unique<ManualTimer>(shared_from_this(), std::move(state));
    }
    void advance(Duration by) {
        std::lock_guard lock(mutex_);
        now_ += by;
        for (const auto& weak : states_) {
            if (const auto state = weak.lock()) fireIfDueLocked(state);
        }
    }

  private:
    struct State {
        std::shared_ptr<dispatch::SerialQueue> queue;
        std::function<void()> handler;
        std::optional<TimePoint> next;  // none until set, and after a one-shot firing
        Duration interval{};
        int suspendCount = 1;  // created inactive
        bool cancelled = false;
    };

    class ManualTimer : public Timer {
      public:
        ManualTimer(std::shared_ptr<ManualClock> clock, std::shared_ptr<State> state)
            : clock_(std::move(clock)), state_(std::move(state)) {}
        ~ManualTimer() override { cancel(); }
        void setTimer(TimePoint start, Duration interval, Duration) override {
            change([&] {
                state_->next = start;
                state_->interval = interval;
            });
        }
        void resume() override {
            change([&] { --state_->suspendCount; });
        }
        void suspend() override {
            change([&] { ++state_->suspendCount; });
        }
        void cancel() override {
            change([&] { state_->cancelled = true; });
        }

      private:
        // A change may make a firing due at once (a start in the past, a resume after a missed time).
        void change(const std::function<void()>& apply) {
            std::lock_guard lock(clock_->mutex_);
            apply();
            clock_->fireIfDueLocked(state_);
        }
        std::shared_ptr<ManualClock> clock_;
        std::shared_ptr<State> state_;
    };

    void fireIfDueLocked(const std::shared_ptr<State>& s) {
        if (s->cancelled || s->suspendCount > 0 || !s->next || *s->next > now_) return;
        if (s->interval <= Duration::zero()) s->next.reset();
        while (s->next && *s->next <= now_) *s->next += s->interval;
        s->queue->async([this, self = shared_from_this(), s] {
            std::unique_lock lock(mutex_);
            if (s->cancelled || s->suspendCount > 0) return;
            lock.unlock();
            s->handler();
        });
    }

    mutable std::mutex mutex_;
    TimePoint now_ = dispatch::TimerSource::Clock::now();
    std::vector<std::weak_ptr<State>> states_;
};

// Counts the hooks; refuses records whose text is "skip".
class CountingDatabaseLogger : public DDAbstractDatabaseLogger {
  public:
    explicit CountingDatabaseLogger(std::shared_ptr<DDTimerClock> clock)
        : DDAbstractDatabaseLogger(std::move(clock)) {
        initLoggerQueue();
    }
    std::atomic<int> saves{0}, deletes{0};

  protected:
    bool db_log(const DDLogMessagePtr& message) override { return message->message() != "skip"; }
    void db_save() override { ++saves; }
    void db_delete() override { ++deletes; }
};

class DDAbstractDatabaseLoggerTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (logger) DDLog::sharedInstance().removeLogger(logger);
    }

    void feed(int count, const std::string& text = "entry") {
        const auto message =
            std::make_shared<DDLogMessage>(text, 15, 4, 0, "f.cpp", "fn", 1, nullptr, 0, std::nullopt);
        logger->loggerQueue()->sync([&] {
            for (int i = 0; i < count; ++i) logger->logMessage(message);
        });
    }
    // The counts once `change` (a setting or a request from outside) and what fell due have run. The logger's
    // queue is passed twice: a change that runs there may queue a firing that falls due at once.
    std::string changed(const std::function<void()>& change) {
        change();
        DDLog::sharedInstance().allLoggers();
        logger->loggerQueue()->sync([] {});
        logger->loggerQueue()->sync([] {});
        return "saves " + std::to_string(logger->saves) + " deletes " + std::to_string(logger->deletes);
    }
    std::string after(DDTimerClock::Duration by) {
        return changed([&] { clock->advance(by); });
    }
    std::string counts() {
        return changed([] {});
    }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<CountingDatabaseLogger> logger = std::make_shared<CountingDatabaseLogger>(clock);
};

TEST_F(DDAbstractDatabaseLoggerTest, SavesAtTheThresholdOnFlushAndOnRequestCountingOnlyAcceptedEntries) {
    changed([&] { DDLog::sharedInstance().addLogger(logger); });  // registered before the entries arrive
    feed(499);
    feed(20, "skip");
    EXPECT_EQ(counts(), "saves 0 deletes 0");
    feed(1);
    EXPECT_EQ(counts(), "saves 1 deletes 0");

    feed(3);
    EXPECT_EQ(changed([&] { logger->setSaveThreshold(4); }), "saves 1 deletes 0");
    EXPECT_EQ(changed([&] { logger->setSaveThreshold(3); }), "saves 2 deletes 0");  // reached: at once

    // Count off: only flush, request, timer and removal save; with nothing pending no hook runs.
    EXPECT_EQ(changed([&] { logger->setSaveThreshold(0); }), "saves 2 deletes 0");
    feed(1000);
    EXPECT_EQ(changed([] { DDLog::sharedInstance().flushLog(); }), "saves 3 deletes 0");
    EXPECT_EQ(changed([] { DDLog::sharedInstance().flushLog(); }), "saves 3 deletes 0");
    feed(1);
    EXPECT_EQ(changed([&] { logger->savePendingLogEntries(); }), "saves 4 deletes 0");
}

TEST_F(DDAbstractDatabaseLoggerTest, TimersFollowTheFirstUnsavedEntryTheLastDeletionAndEveryChange) {
    changed([&] { DDLog::sharedInstance().addLogger(logger); });  // registered before the entries arrive
    feed(1);
    EXPECT_EQ(after(59s), "saves 0 deletes 0");
    feed(1);  // not the first unsaved entry: does not move the save
    EXPECT_EQ(after(1s), "saves 1 deletes 0");
    EXPECT_EQ(after(239s), "saves 1 deletes 0");  // suspended until the next entry
    EXPECT_EQ(after(1s), "saves 1 deletes 1");    // 300 s after registration
    feed(1);
    EXPECT_EQ(after(59s), "saves 1 deletes 1");
    EXPECT_EQ(after(1s), "saves 2 deletes 1");

    EXPECT_EQ(changed([&] { logger->setSaveInterval(0); }), "saves 2 deletes 1");
    feed(1);
    EXPECT_EQ(after(600s), "saves 2 deletes 2");
    // Back, scheduled from the pending entry's time, which has passed.
    EXPECT_EQ(changed([&] { logger->setSaveInterval(10); }), "saves 3 deletes 2");

    // Deleting off: no deletion even on request. Switched on or lowered: at once, then every interval.
    EXPECT_EQ(changed([&] { logger->setMaxAge(0); }), "saves 3 deletes 2");
    EXPECT_EQ(changed([&] { logger->deleteOldLogEntries(); }), "saves 3 deletes 2");
    EXPECT_EQ(after(1000s), "saves 3 deletes 2");
    EXPECT_EQ(changed([&] { logger->setMaxAge(100); }), "saves 3 deletes 3");
    EXPECT_EQ(after(300s), "saves 3 deletes 4");
    EXPECT_EQ(changed([&] { logger->setMaxAge(50); }), "saves 3 deletes 5");
    EXPECT_EQ(after(299s), "saves 3 deletes 5");
    EXPECT_EQ(after(1s), "saves 3 deletes 6");
    EXPECT_EQ(changed([&] { logger->setMaxAge(1000); }), "saves 3 deletes 6");  // raised: nothing

    EXPECT_EQ(changed([&] { logger->setDeleteInterval(0); }), "saves 3 deletes 6");
    EXPECT_EQ(after(1000s), "saves 3 deletes 6");
    // Due 10 s after the last deletion, long past.
    EXPECT_EQ(changed([&] { logger->setDeleteInterval(10); }), "saves 3 deletes 7");
    EXPECT_EQ(after(10s), "saves 3 deletes 8");

    feed(1);
    EXPECT_EQ(changed([&] { DDLog::sharedInstance().removeLogger(logger); }), "saves 4 deletes 8");
    EXPECT_EQ(after(1000s), "saves 4 deletes 8");  // no timer left
}

TEST_F(DDAbstractDatabaseLoggerTest, TimersDoNotKeepAnUnusedLoggerAlive) {
    logger->setSaveInterval(30);
    EXPECT_EQ(changed([&] { logger->setDeleteInterval(30); }), "saves 0 deletes 0");
    feed(1);
    EXPECT_EQ(after(30s), "saves 1 deletes 1");  // both timers exist and run
    std::weak_ptr<CountingDatabaseLogger> weak = logger;
    logger.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(DDAbstractDatabaseLoggerRealTimeTest, ShortIntervalsSaveAndDeleteUntilRemoved) {
    auto logger = std::make_shared<CountingDatabaseLogger>(nullptr);
    logger->setSaveThreshold(0);
    logger->setSaveInterval(0.05);
    logger->setDeleteInterval(0.05);
    DDLog::sharedInstance().addLogger(logger);
    DDLog::sharedInstance().log(true, "entry", 15, 4, 0, __FILE__, "fn", 1, nullptr);
    EXPECT_TRUE(eventually([&] { return logger->saves == 1; }));
    EXPECT_TRUE(eventually([&] { return logger->deletes >= 2; }));
    DDLog::sharedInstance().removeLogger(logger);
    DDLog::sharedInstance().allLoggers();
    logger->loggerQueue()->sync([] {});
    const int deletes = logger->deletes;
    std::this_thread::sleep_for(1200ms);  // beyond the 1 s leeway
    EXPECT_EQ(logger->deletes, deletes);
}

}  // namespace
