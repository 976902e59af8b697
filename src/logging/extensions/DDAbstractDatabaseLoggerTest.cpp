#include "logging/extensions/DDAbstractDatabaseLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "logging/DDLog.h"
#include "logging/extensions/testing/ManualTimerClock.h"
#include "logging/internal/FileLoggingTestSupport.h"

namespace {

using logging::internal::testing::eventually;
using logging::internal::testing::ManualTimerClock;
using namespace std::chrono_literals;

// Counts the hooks; refuses records whose text is "skip". `db_save` notes how many timers were still alive.
class CountingDatabaseLogger : public DDAbstractDatabaseLogger {
  public:
    explicit CountingDatabaseLogger(std::shared_ptr<ManualTimerClock> clock)
        : DDAbstractDatabaseLogger(clock), manual_(std::move(clock)) {
        initLoggerQueue();
    }
    std::atomic<int> saves{0}, deletes{0}, savesAndDeletes{0}, timersAtLastSave{-1};

  protected:
    bool db_log(const DDLogMessagePtr& message) override { return message->message() != "skip"; }
    void db_save() override {
        ++saves;
        if (manual_) timersAtLastSave = manual_->liveTimers();
    }
    void db_delete() override { ++deletes; }
    void db_saveAndDelete() override { ++savesAndDeletes; }

  private:
    std::shared_ptr<ManualTimerClock> manual_;
};

class DDAbstractDatabaseLoggerTest : public ::testing::Test {
  protected:
    void SetUp() override { logger = std::make_shared<CountingDatabaseLogger>(clock); }
    void TearDown() override { DDLog::sharedInstance().removeLogger(logger); }

    void feed(int count, const std::string& text = "entry") {
        const auto message =
            std::make_shared<DDLogMessage>(text, 15, 4, 0, "f.cpp", "fn", 1, nullptr, 0, std::nullopt);
        logger->loggerQueue()->sync([&] {
            for (int i = 0; i < count; ++i) logger->logMessage(message);
        });
    }
    // Waits until the work queued so far (registration, setting changes, timer firings) has run. The logger's
    // queue is passed twice: a change that runs there may queue a firing that falls due at once.
    void settle() {
        DDLog::sharedInstance().allLoggers();
        logger->loggerQueue()->sync([] {});
        logger->loggerQueue()->sync([] {});
    }
    void add() {
        changed([&] { DDLog::sharedInstance().addLogger(logger); });
    }
    std::string counts() {
        return "saves " + std::to_string(logger->saves) + " deletes " + std::to_string(logger->deletes);
    }
    // The counts once the clock has moved on by `by` and what fell due has run.
    std::string after(DDTimerClock::Duration by) {
        clock->advance(by);
        settle();
        return counts();
    }
    // The counts once `change` (a setting or a request from outside) has taken effect.
    std::string changed(const std::function<void()>& change) {
        change();
        settle();
        return counts();
    }
    std::string timers() {
        return "live " + std::to_string(clock->liveTimers()) + " running " +
               std::to_string(clock->runningTimers());
    }

    std::shared_ptr<ManualTimerClock> clock = std::make_shared<ManualTimerClock>();
    std::shared_ptr<CountingDatabaseLogger> logger;
};

TEST_F(DDAbstractDatabaseLoggerTest, SavesAtTheThresholdCountingOnlyAcceptedEntries) {
    add();
    feed(499);
    feed(20, "skip");
    EXPECT_EQ(counts(), "saves 0 deletes 0");
    feed(1);
    EXPECT_EQ(counts(), "saves 1 deletes 0");

    feed(3);
    EXPECT_EQ(changed([&] { logger->setSaveThreshold(10); }), "saves 1 deletes 0");  // above the count
    EXPECT_EQ(changed([&] { logger->setSaveThreshold(3); }), "saves 2 deletes 0");   // at the count
    feed(2);
    EXPECT_EQ(changed([&] { logger->setSaveThreshold(100); }), "saves 2 deletes 0");

    // Count off: only flush, request, timer and removal save; with nothing pending no hook runs.
    EXPECT_EQ(changed([&] { logger->setSaveThreshold(0); }), "saves 2 deletes 0");
    feed(1000);
    EXPECT_EQ(counts(), "saves 2 deletes 0");
    EXPECT_EQ(changed([] { DDLog::sharedInstance().flushLog(); }), "saves 3 deletes 0");
    EXPECT_EQ(changed([] { DDLog::sharedInstance().flushLog(); }), "saves 3 deletes 0");
    EXPECT_EQ(changed([&] { logger->savePendingLogEntries(); }), "saves 3 deletes 0");
    feed(1);
    EXPECT_EQ(changed([&] { logger->savePendingLogEntries(); }), "saves 4 deletes 0");

    EXPECT_EQ(changed([&] { logger->setDeleteOnEverySave(true); }), "saves 4 deletes 0");
    feed(1);
    DDLog::sharedInstance().flushLog();
    EXPECT_EQ(logger->savesAndDeletes, 1);
    EXPECT_EQ(counts(), "saves 4 deletes 0");
}

TEST_F(DDAbstractDatabaseLoggerTest, SaveTimerFiresAnIntervalAfterTheFirstEntryThenWaitsForTheNext) {
    add();
    EXPECT_EQ(timers(), "live 2 running 1");  // save timer created, not started; delete timer running
    feed(1);
    EXPECT_EQ(timers(), "live 2 running 2");
    EXPECT_EQ(after(59s), "saves 0 deletes 0");
    feed(1);  // not the first unsaved entry: does not move the save
    EXPECT_EQ(after(1s), "saves 1 deletes 0");
    EXPECT_EQ(timers(), "live 2 running 1");  // suspended until the next entry
    EXPECT_EQ(after(200s), "saves 1 deletes 0");
    EXPECT_EQ(after(40s), "saves 1 deletes 1");  // 300 s after registration
    feed(1);
    EXPECT_EQ(after(59s), "saves 1 deletes 1");
    EXPECT_EQ(after(1s), "saves 2 deletes 1");
    EXPECT_EQ(after(240s), "saves 2 deletes 2");

    EXPECT_EQ(changed([&] { logger->setSaveInterval(0); }), "saves 2 deletes 2");
    EXPECT_EQ(timers(), "live 1 running 1");  // the save timer is gone
    feed(1);
    EXPECT_EQ(after(600s), "saves 2 deletes 3");
    // Back, scheduled from the pending entry's time, which has passed.
    EXPECT_EQ(changed([&] { logger->setSaveInterval(10); }), "saves 3 deletes 3");

    feed(2);
    changed([&] { DDLog::sharedInstance().removeLogger(logger); });  // saves before the timers go
    EXPECT_EQ(counts(), "saves 4 deletes 3");
    EXPECT_EQ(logger->timersAtLastSave, 2);
    EXPECT_EQ(timers(), "live 0 running 0");
}

TEST_F(DDAbstractDatabaseLoggerTest, MaxAgeChangesDeleteAtOnceAndRestartTheDeleteTiming) {
    add();
    EXPECT_EQ(changed([&] { logger->setMaxAge(0); }), "saves 0 deletes 0");
    EXPECT_EQ(timers(), "live 1 running 0");  // only the save timer, not started
    EXPECT_EQ(changed([&] { logger->deleteOldLogEntries(); }), "saves 0 deletes 0");
    EXPECT_EQ(after(1000s), "saves 0 deletes 0");

    // Switched on: deletes at once and starts the timer.
    EXPECT_EQ(changed([&] { logger->setMaxAge(100); }), "saves 0 deletes 1");
    EXPECT_EQ(after(300s), "saves 0 deletes 2");
    EXPECT_EQ(after(100s), "saves 0 deletes 2");
    // Lowered: deletes at once, the next one 300 s after it.
    EXPECT_EQ(changed([&] { logger->setMaxAge(50); }), "saves 0 deletes 3");
    EXPECT_EQ(after(299s), "saves 0 deletes 3");
    EXPECT_EQ(after(1s), "saves 0 deletes 4");
    EXPECT_EQ(changed([&] { logger->setMaxAge(1000); }), "saves 0 deletes 4");  // raised: nothing

    EXPECT_EQ(changed([&] { logger->setDeleteInterval(0); }), "saves 0 deletes 4");
    EXPECT_EQ(after(1000s), "saves 0 deletes 4");
    // Due 10 s after the last deletion, long past.
    EXPECT_EQ(changed([&] { logger->setDeleteInterval(10); }), "saves 0 deletes 5");
    EXPECT_EQ(after(10s), "saves 0 deletes 6");
}

TEST_F(DDAbstractDatabaseLoggerTest, TimersDoNotKeepAnUnusedLoggerAlive) {
    logger->setSaveInterval(1.5);
    logger->setDeleteInterval(30);
    EXPECT_EQ(logger->deleteInterval(), 30.0);  // a read waits until the changes have been applied
    EXPECT_EQ(clock->liveTimers(), 2);          // the interval changes made both timers before registration
    std::weak_ptr<CountingDatabaseLogger> weak = logger;
    logger.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(clock->liveTimers(), 0);
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
