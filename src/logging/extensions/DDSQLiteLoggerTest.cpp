#include "logging/extensions/DDSQLiteLogger.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "logging/DDLog.h"
#include "logging/extensions/internal/SQLiteTestSupport.h"
#include "logging/internal/Diagnostics.h"
#include "logging/internal/FileLoggingTestSupport.h"

namespace {

using logging::internal::testing::eventually;
using logging::internal::testing::logAndSave;
using logging::internal::testing::sqlite3Command;
using logging::internal::testing::TempDir;
using logging::internal::testing::writeFile;

class PrefixFormatter : public DDLogFormatter {
  public:
    DDText formatLogMessage(const DDLogMessage& message) override {
        if (message.message() == "drop") return nullptr;
        return std::make_shared<const std::string>("F:" + message.message());
    }
};

TEST(DDSQLiteLoggerTest, StoresEveryFieldReadableWhileRunningAndPrunesOldRows) {
    TempDir state;
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    auto logger = DDSQLiteLogger::create();
    ::unsetenv("XDG_STATE_HOME");
    const std::string directory = state.path() + "/" + logging::internal::processName();
    ASSERT_EQ(logger->databasePath(), directory + "/log.sqlite3");
    const std::string& path = logger->databasePath();
    DDLog::sharedInstance().addLogger(logger);

    const auto before = std::chrono::system_clock::now();
    auto queue = dispatch::SerialQueue::create("db.test.queue");
    std::thread writer([&] {
        pthread_setname_np(pthread_self(), "dbwriter");
        queue->sync(
            [] { DDLog::sharedInstance().log(true, "plain", 15, 4, 7, "src/a.cpp", "run", 42, nullptr); });
    });
    writer.join();
    logger->setLogFormatter(std::make_shared<PrefixFormatter>());
    DDLog::sharedInstance().log(true, "formatted", 31, 1, -3, "b.cpp", "other", 9, nullptr);
    DDLog::sharedInstance().log(true, "drop", 31, 1, 0, "b.cpp", "other", 9, nullptr);
    const auto week = std::chrono::hours(24 * 7);
    DDLog::sharedInstance().log(true,
                                std::make_shared<DDLogMessage>("old", 15, 4, 0, "c.cpp", "f", 1, nullptr, 0,
                                                               before - week - std::chrono::minutes(1)));
    DDLog::sharedInstance().flushLog();
    const auto after = std::chrono::system_clock::now();

    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(directory).permissions(), perms::owner_all);
    EXPECT_EQ(std::filesystem::status(path).permissions(), perms::owner_read | perms::owner_write);
    EXPECT_EQ(sqlite3Command(path, "PRAGMA journal_mode"), "wal\n");
    const std::string rows = sqlite3Command(path,
                                            "SELECT level, flag, context, file, function, line, thread_name, "
                                            "queue_label, message FROM logs ORDER BY id");
    EXPECT_EQ(rows,
              "15|4|7|src/a.cpp|run|42|dbwriter|db.test.queue|plain\n"
              "31|1|-3|b.cpp|other|9|||F:formatted\n"
              "15|4|0|c.cpp|f|1|||F:old\n")
        << rows;
    const auto ms = [](auto t) {
        return std::to_string(
            std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
    };
    EXPECT_EQ(sqlite3Command(path, "SELECT time BETWEEN " + ms(before) + " AND " + ms(after) +
                                       ", length(thread_id) > 0 FROM logs WHERE message='plain'"),
              "1|1\n");

    logger->deleteOldLogEntries();
    EXPECT_TRUE(eventually([&] { return sqlite3Command(path, "SELECT count(*) FROM logs") == "2\n"; }));
    EXPECT_EQ(sqlite3Command(path, "SELECT count(*) FROM logs WHERE message='F:old'"), "0\n");

    // Deleting on every save: the old row goes in the same save that writes the new one.
    logger->setDeleteOnEverySave(true);
    DDLog::sharedInstance().log(
        true, std::make_shared<DDLogMessage>("old again", 15, 4, 0, "c.cpp", "f", 1, nullptr, 0,
                                             before - week - std::chrono::minutes(1)));
    DDLog::sharedInstance().log(true, "new", 15, 4, 0, "d.cpp", "g", 2, nullptr);
    DDLog::sharedInstance().flushLog();
    EXPECT_EQ(sqlite3Command(path, "SELECT group_concat(message) FROM logs"), "plain,F:formatted,F:new\n");
    DDLog::sharedInstance().removeLogger(logger);
    DDLog::sharedInstance().flushLog();
}

// A write failure on an open store is the full-disk integration test's; this is the store that cannot even be
// opened, and opened later.
TEST(DDSQLiteLoggerTest, AFailedSaveCostsOnlyItsEntriesAndTheNextSaveTriesAgain) {
    TempDir dir;
    const std::string directory = dir.file("db"), path = directory + "/log.sqlite3";
    writeFile(directory, "a file");
    auto logger = DDSQLiteLogger::create(path);
    const std::string err = logAndSave(*logger, {"lost 1", "lost 2", "lost 3"});
    const auto report = err.find("DDSQLiteLogger: ");  // after the diagnostic's own prefix
    ASSERT_NE(report, std::string::npos) << err;
    EXPECT_EQ(err.substr(report), "DDSQLiteLogger: Failed to save log entries to " + path +
                                      ": Not a directory (errno 20); 3 entries lost\n");

    std::filesystem::remove(directory);
    EXPECT_EQ(logAndSave(*logger, {"later"}), "");
    // What is still pending when the logger goes is saved, not dropped.
    logger->loggerQueue()->sync([&] { logger->logMessage(logging::internal::testing::record("pending")); });
    logger.reset();
    EXPECT_EQ(sqlite3Command(path, "SELECT group_concat(message) FROM logs"), "later,pending\n");
}

}  // namespace
