#include "logging/extensions/DDAbstractDatabaseLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "logging/DDLog.h"
#include "logging/internal/FileLoggingTestSupport.h"

namespace {

using logging::internal::testing::eventually;
using namespace std::chrono_literals;

// Counts the hooks; refuses records whose text is "skip".
class CountingDatabaseLogger : public DDAbstractDatabaseLogger {
  public:
    CountingDatabaseLogger() { initLoggerQueue(); }
    std::atomic<int> saves{0}, deletes{0};

  protected:
    bool db_log(const DDLogMessagePtr& message) override { return message->message() != "skip"; }
    void db_save() override { ++saves; }
    void db_delete() override { ++deletes; }
};

// On the system clock. The default intervals (a minute, five minutes) never fall due within a test.
class DDAbstractDatabaseLoggerTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (logger) DDLog::sharedInstance().removeLogger(logger);
    }

    void feed(int count, const std::string& text = "entry") {
        const auto message = logging::internal::testing::record(text);
        logger->loggerQueue()->sync([&] {
            for (int i = 0; i < count; ++i) logger->logMessage(message);
        });
    }
    // The counts once `change` (a setting or a request from outside) has run on the logger's queue.
    std::string counts(const std::function<void()>& change = [] {}) {
        change();
        DDLog::sharedInstance().allLoggers();
        logger->loggerQueue()->sync([] {});
        return "saves " + std::to_string(logger->saves) + " deletes " + std::to_string(logger->deletes);
    }

    std::shared_ptr<CountingDatabaseLogger> logger = std::make_shared<CountingDatabaseLogger>();
};

TEST_F(DDAbstractDatabaseLoggerTest, HooksRunAtTheThresholdOnRequestsAndWhenMaxAgeIsSwitchedOnOrLowered) {
    counts([&] { DDLog::sharedInstance().addLogger(logger); });  // registered before the entries arrive
    feed(499);
    feed(20, "skip");
    EXPECT_EQ(counts(), "saves 0 deletes 0");
    feed(1);
    EXPECT_EQ(counts(), "saves 1 deletes 0");

    feed(3);
    EXPECT_EQ(counts([&] { logger->setSaveThreshold(4); }), "saves 1 deletes 0");
    EXPECT_EQ(counts([&] { logger->setSaveThreshold(3); }), "saves 2 deletes 0");  // reached: at once

    // Count off: only flush, request, timer and removal save; with nothing pending no hook runs.
    EXPECT_EQ(counts([&] { logger->setSaveThreshold(0); }), "saves 2 deletes 0");
    feed(1000);
    EXPECT_EQ(counts([] { DDLog::sharedInstance().flushLog(); }), "saves 3 deletes 0");
    EXPECT_EQ(counts([] { DDLog::sharedInstance().flushLog(); }), "saves 3 deletes 0");
    feed(1);
    EXPECT_EQ(counts([&] { logger->savePendingLogEntries(); }), "saves 4 deletes 0");

    EXPECT_EQ(counts([&] { logger->deleteOldLogEntries(); }), "saves 4 deletes 1");
    EXPECT_EQ(counts([&] { logger->setMaxAge(0); }), "saves 4 deletes 1");
    EXPECT_EQ(counts([&] { logger->deleteOldLogEntries(); }), "saves 4 deletes 1");  // off: not even asked
    EXPECT_EQ(counts([&] { logger->setMaxAge(100); }), "saves 4 deletes 2");         // switched on
    EXPECT_EQ(counts([&] { logger->setMaxAge(50); }), "saves 4 deletes 3");          // lowered
    EXPECT_EQ(counts([&] { logger->setMaxAge(1000); }), "saves 4 deletes 3");        // raised: nothing
}

TEST_F(DDAbstractDatabaseLoggerTest, TimersSaveTheFirstEntryInTimeAndDeleteRepeatedlyUntilRemoved) {
    logger->setSaveThreshold(0);
    logger->setSaveInterval(0.2);
    logger->setDeleteInterval(0.05);
    counts([&] { DDLog::sharedInstance().addLogger(logger); });
    // Entries keep coming faster than the interval: the save is due an interval after the first of them.
    const auto start = std::chrono::steady_clock::now();
    while (logger->saves == 0 && std::chrono::steady_clock::now() - start < 5s) {
        feed(1);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GT(logger->saves, 0);
    EXPECT_TRUE(eventually([&] { return logger->deletes >= 2; }));

    // Removal saves what is pending (the save timer is out of the way now) and stops the timers.
    counts([&] { logger->setSaveInterval(60); });
    const int saves = logger->saves;
    feed(1);
    const std::string removed = counts([&] { DDLog::sharedInstance().removeLogger(logger); });
    EXPECT_EQ(logger->saves, saves + 1);
    std::this_thread::sleep_for(1200ms);  // beyond the timers' 1 s leeway
    EXPECT_EQ(counts(), removed);
}

TEST_F(DDAbstractDatabaseLoggerTest, TimersDoNotKeepAnUnusedLoggerAlive) {
    logger->setDeleteInterval(0.05);
    ASSERT_TRUE(eventually([&] { return logger->deletes > 0; }));  // the timer exists and runs
    std::weak_ptr<CountingDatabaseLogger> weak = logger;
    logger.reset();
    EXPECT_TRUE(eventually([&] { return weak.expired(); }));  // a firing under way may hold it a moment
}

}  // namespace
