#include "logging/extensions/DDAbstractDatabaseLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "logging/DDLog.h"
#include "logging/extensions/internal/ManualTimerClock.h"
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
    // Waits until the work queued so far (registration, setting changes, timer firings) has run.
    void settle() {
        DDLog::sharedInstance().allLoggers();
        logger->loggerQueue()->sync([] {});
    }
    void add() {
        DDLog::sharedInstance().addLogger(logger);
        settle();
    }
    void remove() {
        DDLog::sharedInstance().removeLogger(logger);
        settle();
    }
    void advance(DDTimerClock::Duration by) {
        clock->advance(by);
        settle();
    }

    std::shared_ptr<ManualTimerClock> clock = std::make_shared<ManualTimerClock>();
    std::shared_ptr<CountingDatabaseLogger> logger;
};

TEST_F(DDAbstractDatabaseLoggerTest, SavesAtTheThresholdCountingOnlyAcceptedEntries) {
    add();
    feed(499);
    feed(20, "skip");
    settle();
    EXPECT_EQ(logger->saves, 0);
    feed(1);
    EXPECT_EQ(logger->saves, 1);

    feed(3);
    logger->setSaveThreshold(10);  // still above the count
    settle();
    EXPECT_EQ(logger->saves, 1);
    logger->setSaveThreshold(3);  // at the count: saves at once
    settle();
    EXPECT_EQ(logger->saves, 2);
    feed(2);
    logger->setSaveThreshold(100);
    settle();
    EXPECT_EQ(logger->saves, 2);

    logger->setSaveThreshold(0);  // count off: only flush, request, timer and removal save
    settle();
    feed(1000);
    EXPECT_EQ(logger->saves, 2);
    DDLog::sharedInstance().flushLog();
    EXPECT_EQ(logger->saves, 3);
    DDLog::sharedInstance().flushLog();  // nothing pending: no hook
    logger->savePendingLogEntries();
    settle();
    EXPECT_EQ(logger->saves, 3);
    feed(1);
    logger->savePendingLogEntries();
    settle();
    EXPECT_EQ(logger->saves, 4);

    logger->setDeleteOnEverySave(true);
    settle();
    feed(1);
    DDLog::sharedInstance().flushLog();
    EXPECT_EQ(logger->savesAndDeletes, 1);
    EXPECT_EQ(logger->saves, 4);
}

TEST_F(DDAbstractDatabaseLoggerTest, SaveTimerFiresAnIntervalAfterTheFirstEntryThenWaitsForTheNext) {
    add();
    EXPECT_EQ(clock->liveTimers(), 2);  // save timer created, not started; delete timer running
    EXPECT_EQ(clock->runningTimers(), 1);
    feed(1);
    EXPECT_EQ(clock->runningTimers(), 2);
    advance(59s);
    feed(1);  // not the first unsaved entry: does not move the save
    EXPECT_EQ(logger->saves, 0);
    advance(1s);
    EXPECT_EQ(logger->saves, 1);
    EXPECT_EQ(clock->runningTimers(), 1);  // suspended until the next entry
    advance(200s);
    EXPECT_EQ(logger->saves, 1);
    EXPECT_EQ(logger->deletes, 0);
    advance(40s);  // 300 s after registration
    EXPECT_EQ(logger->deletes, 1);

    feed(1);
    advance(59s);
    EXPECT_EQ(logger->saves, 1);
    advance(1s);
    EXPECT_EQ(logger->saves, 2);
    EXPECT_EQ(logger->deletes, 1);
    advance(240s);
    EXPECT_EQ(logger->deletes, 2);

    logger->setSaveInterval(0);  // the save timer goes
    settle();
    EXPECT_EQ(clock->liveTimers(), 1);
    feed(1);
    advance(600s);
    EXPECT_EQ(logger->saves, 2);
    logger->setSaveInterval(10);  // back, scheduled from the pending entry's time, which has passed
    settle();
    EXPECT_EQ(logger->saves, 3);

    feed(2);
    remove();  // saves before the timers go
    EXPECT_EQ(logger->saves, 4);
    EXPECT_EQ(logger->timersAtLastSave, 2);
    EXPECT_EQ(clock->liveTimers(), 0);
}

TEST_F(DDAbstractDatabaseLoggerTest, MaxAgeChangesDeleteAtOnceAndRestartTheDeleteTiming) {
    add();
    logger->setMaxAge(0);
    settle();
    EXPECT_EQ(clock->liveTimers(), 1);  // only the save timer
    logger->deleteOldLogEntries();
    advance(1000s);
    EXPECT_EQ(logger->deletes, 0);

    logger->setMaxAge(100);  // switched on: deletes at once and starts the timer
    settle();
    EXPECT_EQ(logger->deletes, 1);
    advance(300s);
    EXPECT_EQ(logger->deletes, 2);
    advance(100s);
    logger->setMaxAge(50);  // lowered: deletes at once, the next one 300 s after it
    settle();
    EXPECT_EQ(logger->deletes, 3);
    advance(299s);
    EXPECT_EQ(logger->deletes, 3);
    advance(1s);
    EXPECT_EQ(logger->deletes, 4);
    logger->setMaxAge(1000);  // raised: nothing
    settle();
    EXPECT_EQ(logger->deletes, 4);

    logger->setDeleteInterval(0);
    settle();
    advance(1000s);
    EXPECT_EQ(logger->deletes, 4);
    logger->setDeleteInterval(10);  // due 10 s after the last deletion, long past
    settle();
    EXPECT_EQ(logger->deletes, 5);
    advance(10s);
    EXPECT_EQ(logger->deletes, 6);
}

TEST_F(DDAbstractDatabaseLoggerTest, SettingsReadBackAndTimersDoNotKeepAnUnusedLoggerAlive) {
    EXPECT_EQ(logger->saveThreshold(), 500u);
    EXPECT_EQ(logger->saveInterval(), 60.0);
    EXPECT_EQ(logger->maxAge(), 604800.0);
    EXPECT_EQ(logger->deleteInterval(), 300.0);
    EXPECT_FALSE(logger->deleteOnEverySave());
    logger->setSaveThreshold(7);
    logger->setSaveInterval(1.5);
    logger->setMaxAge(86400);
    logger->setDeleteInterval(30);
    logger->setDeleteOnEverySave(true);
    EXPECT_EQ(logger->saveThreshold(), 7u);
    EXPECT_EQ(logger->saveInterval(), 1.5);
    EXPECT_EQ(logger->maxAge(), 86400.0);
    EXPECT_EQ(logger->deleteInterval(), 30.0);
    EXPECT_TRUE(logger->deleteOnEverySave());
    EXPECT_EQ(clock->liveTimers(), 2);  // the interval changes made both timers before registration

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
