#include "logging/extensions/DDSQLiteLogger.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
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

unsigned mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

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

    EXPECT_EQ(mode(directory), 0700u);
    EXPECT_EQ(mode(path), 0600u);
    EXPECT_EQ(sqlite3Command(path, "PRAGMA journal_mode"), "wal\n");
    EXPECT_EQ(sqlite3Command(path, "SELECT name FROM sqlite_master WHERE type='index'"), "logs_time\n");
    const std::string rows = sqlite3Command(path,
                                            "SELECT level, flag, context, file, function, line, thread_name, "
                                            "queue_label, message FROM logs ORDER BY id");
    EXPECT_EQ(rows,
              "15|4|7|src/a.cpp|run|42|dbwriter|db.test.queue|plain\n"
              "31|1|-3|b.cpp|other|9|||F:formatted\n"
              "15|4|0|c.cpp|f|1|||F:old\n")
        << rows;
    const auto ms = [](auto t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    };
    const std::string times = sqlite3Command(path, "SELECT time, thread_id FROM logs WHERE message='plain'");
    const long long time = std::stoll(times);
    EXPECT_GE(time, ms(before));
    EXPECT_LE(time, ms(after));
    EXPECT_NE(times.find('|'), std::string::npos);

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

struct FaultCase {
    const char* name;
    std::function<void(const std::string& path)> breakIt;
    const char* error;
    std::function<void(const std::string& path)> repair;
};

TEST(DDSQLiteLoggerTest, FaultsCostOnlyThatSaveAndTheNextSaveTriesAgain) {
    TempDir dir;
    const FaultCase cases[] = {
        {"cannot be opened",
         [](const std::string& path) { writeFile(std::filesystem::path(path).parent_path(), "a file"); },
         "Not a directory",
         [](const std::string& path) { std::filesystem::remove(std::filesystem::path(path).parent_path()); }},
        {"not a database",
         [](const std::string& path) {
             std::filesystem::create_directory(std::filesystem::path(path).parent_path());
             writeFile(path, std::string(8192, 'x'));
         },
         "file is not a database", [](const std::string& path) { std::filesystem::resize_file(path, 0); }},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::to_string(++index)) + "/log.sqlite3";
        c.breakIt(path);
        auto logger = DDSQLiteLogger::create(path);
        const std::string err = logAndSave(*logger, {"lost 1", "lost 2", "lost 3"});
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find("DDSQLiteLogger: Failed to save log entries to " + path + ": "), std::string::npos)
            << err;
        EXPECT_NE(err.find(c.error), std::string::npos) << err;
        EXPECT_NE(err.find("; 3 entries lost"), std::string::npos) << err;
        c.repair(path);
        EXPECT_EQ(logAndSave(*logger, {"later 1", "later 2"}), "");
        EXPECT_EQ(sqlite3Command(path, "SELECT group_concat(message) FROM logs"), "later 1,later 2\n");
    }
}

TEST(DDSQLiteLoggerTest, ADatabaseLockedByAnotherProcessCostsOneSave) {
    TempDir dir;
    const std::string path = dir.file("log.sqlite3");
    auto logger = DDSQLiteLogger::create(path);
    ASSERT_EQ(logAndSave(*logger, {"first"}), "");

    // Another process holds the write lock for a second.
    const std::string marker = dir.file("locked");
    // std::system, not popen: a thread blocked reading a popen stream would hold up the fflush(nullptr) of
    // the standard-error capture.
    std::thread holder([&] {
        std::system(("sqlite3 -batch '" + path + "' 'BEGIN EXCLUSIVE' '.shell touch " + marker +
                     "; sleep 1' >/dev/null 2>&1")
                        .c_str());
    });
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(marker); }));
    const std::string err = logAndSave(*logger, {"lost 1", "lost 2"});
    holder.join();
    EXPECT_NE(err.find("DDSQLiteLogger: Failed to save log entries to " + path +
                       ": database is locked; 2 "
                       "entries lost"),
              std::string::npos)
        << err;
    EXPECT_EQ(logAndSave(*logger, {"later"}), "");

    // What is still pending when the logger goes is saved, not dropped.
    logger->loggerQueue()->sync(
        [&] { logger->logMessage(logging::internal::testing::sqliteEntry("pending")); });
    logger.reset();
    EXPECT_EQ(sqlite3Command(path, "SELECT group_concat(message) FROM logs"), "first,later,pending\n");
}

}  // namespace
