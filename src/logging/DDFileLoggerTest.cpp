#include "logging/DDFileLogger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "dispatch/SerialQueue.h"
#include "logging/DDLog.h"
#include "logging/DDLogFileManagerDefault.h"
#include "logging/internal/FileLoggingTestSupport.h"
#include "logging/testing/DDTestLogger.h"

using namespace logging::internal::testing;

namespace {

using namespace std::chrono;

std::shared_ptr<DDLogFileManagerDefault> makeManager(const TempDir& dir, DDWallClock clock = {}) {
    auto manager = std::make_shared<DDLogFileManagerDefault>(dir.path(), std::move(clock));
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    return manager;
}

std::string currentPath(const std::shared_ptr<DDFileLogger>& logger) {
    return logger->currentLogFileInfo()->filePath();
}

class FixedFormatter : public DDLogFormatter {
  public:
    explicit FixedFormatter(std::function<DDText(const DDLogMessage&)> format) : format_(std::move(format)) {}
    DDText formatLogMessage(const DDLogMessage& message) override { return format_(message); }

  private:
    std::function<DDText(const DDLogMessage&)> format_;
};

TEST(DDFileLoggerTest, LineFormatNewlineRulesAndSuppressedRecords) {
    TempDir dir;
    auto logger = DDFileLogger::create(makeManager(dir));
    std::atomic<bool> rolled{false};  // a roll without a file still completes
    logger->rollLogFileWithCompletionBlock([&] { rolled = true; });
    EXPECT_TRUE(eventually([&] { return rolled.load(); }));
    const auto standard = logger->logFormatter();
    const auto format = [&](std::function<DDText(const DDLogMessage&)> f) {
        logger->setLogFormatter(f ? std::make_shared<FixedFormatter>(std::move(f)) : standard);
        logger->maximumFileSize();  // both hops have run once this returns
    };
    format([](const DDLogMessage&) { return DDText(); });
    deliver(*logger, record("dropped"));
    format([](const DDLogMessage&) { return std::make_shared<const std::string>(""); });
    deliver(*logger, record("dropped too"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // no file opened or created for nothing

    // The standard line: a UTC stamp whatever the machine's zone (no test here reads local time),
    // milliseconds truncated, two spaces.
    ::setenv("TZ", "Pacific/Chatham", 1);
    ::tzset();
    format(nullptr);
    deliver(*logger, record("Started", system_clock::time_point(seconds(1796527574)) + microseconds(123999)));
    ::unsetenv("TZ");
    ::tzset();
    logger->setAutomaticallyAppendNewlineForCustomFormatters(false);
    format(
        [](const DDLogMessage& m) { return std::make_shared<const std::string>("<" + m.message() + ">"); });
    deliver(*logger, record("custom"));
    // Handing back the record's own text is not custom formatting: it gets its newline.
    format([](const DDLogMessage& m) { return m.messageText(); });
    deliver(*logger, record("same"));
    deliver(*logger, record("ends\n"));
    EXPECT_EQ(readFile(currentPath(logger)), "2026/12/06 03:26:14:123  Started\n<custom>same\nends\n");
}

TEST(DDFileLoggerTest, ReusesTheNewestFileUnlessArchivedDueOrSwitchedOff) {
    TempDir dir;
    ManualClock clock;
    auto manager = makeManager(dir, clock.function());
    std::shared_ptr<DDFileLogger> logger_;
    const std::string old = dir.file(logName("2026-12-01--00-00-00-000"));
    writeFile(old, "old\n");
    // One logger's life; destruction leaves its file unarchived. Returns the newest file then.
    const auto session = [&](const std::function<void(DDFileLogger&)>& configure, const std::string& line) {
        DDFileLogger::create(manager, nullptr, clock.function()).swap(logger_);
        configure(*logger_);
        logger_->logData(line);
        logger_.reset();
        return manager->sortedLogFilePaths().front();
    };
    EXPECT_EQ(session([](DDFileLogger&) {}, "appended\n"), old);
    EXPECT_FALSE(archived(old));
    const auto fresh = session([](DDFileLogger& l) { l.setDoNotReuseLogFiles(true); }, "fresh\n");
    EXPECT_TRUE(archived(old));
    EXPECT_EQ(readFile(old), "old\nappended\n");
    // Too old for the age limit, or too large for the size limit: archived at start, not appended to.
    clock.advance(seconds(101));
    const auto third = session([](DDFileLogger& l) { l.setRollingFrequency(100); }, "third\n");
    EXPECT_TRUE(archived(fresh));
    session([](DDFileLogger& l) { l.setMaximumFileSize(6); }, "fourth\n");
    EXPECT_TRUE(archived(third));
    EXPECT_EQ(readFile(fresh) + readFile(third), "fresh\nthird\n");
}

TEST(DDFileLoggerTest, RollsExactlyAtTheSizeLimit) {
    TempDir dir;
    auto logger = DDFileLogger::create(makeManager(dir));
    logger->setMaximumFileSize(10);  // opens (creates) the file before any message
    const auto first = currentPath(logger);
    EXPECT_TRUE(std::filesystem::exists(first));
    logger->logData("12345");
    logger->logData("6789");  // 9 bytes: stays
    EXPECT_EQ(currentPath(logger), first);
    logger->logData("0");  // exactly 10: rolls after this write
    EXPECT_TRUE(archived(first));
    logger->logData("next");
    const auto second = currentPath(logger);
    EXPECT_NE(second, first);
    EXPECT_EQ(readFile(first) + "|" + readFile(second), "1234567890|next");

    // On the logger's own queue and on the logging queue a setting is reached without a hop that would wait
    // for itself.
    std::uint64_t seen = 0;
    logger->loggerQueue()->sync([&] {
        logger->setMaximumFileSize(1000);
        seen = logger->maximumFileSize();
    });
    DDLog::loggingQueue()->sync([&] { seen += logger->maximumFileSize(); });
    EXPECT_EQ(seen, 2000u);
    logger->setMaximumFileSize(0);  // never rolls by size
    logger->logData(std::string(100, 'x'));
    EXPECT_EQ(currentPath(logger), second);
}

TEST(DDFileLoggerTest, AgeRollHasOneSecondOfToleranceAndTheTimerWaitsForTheAge) {
    TempDir dir;
    ManualClock clock;
    auto logger = DDFileLogger::create(makeManager(dir, clock.function()), nullptr, clock.function());
    logger->setRollingFrequency(100);
    logger->logData("a\n");
    auto info = logger->currentLogFileInfo();
    const auto created = *info->creationDate();
    const auto fireAt = [&](milliseconds age) {
        bool armed = false;
        clock.set(created + age);
        logger->loggerQueue()->sync([&] {
            logger->lt_maybeRollLogFileDueToAge();
            armed = logger->lt_hasRollingTimer();
        });
        return armed;
    };
    EXPECT_TRUE(fireAt(milliseconds(98000)));  // 2 s early: re-arms
    EXPECT_FALSE(archived(info->filePath()));
    fireAt(milliseconds(99500));  // 0.5 s early: rolls
    EXPECT_TRUE(archived(info->filePath()));

    // The real timer is armed for the file's age: at 60 s of 100 it waits 40 s, so moving the clock on to
    // 99.5 s rolls nothing until then; a file already past its age rolls as soon as the timer is armed.
    logger->logData("b\n");
    info = logger->currentLogFileInfo();
    clock.set(*info->creationDate() + seconds(60));
    logger->setRollingFrequency(100);
    logger->maximumFileSize();  // the timer is armed before the clock moves on
    clock.set(*info->creationDate() + milliseconds(99500));
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_FALSE(archived(info->filePath()));
    clock.set(*info->creationDate() + seconds(101));
    logger->setRollingFrequency(100);
    EXPECT_TRUE(eventually([&] { return archived(info->filePath()); }));

    // Frequency 0: no timer, no roll by age.
    logger->setRollingFrequency(0);
    logger->logData("c\n");
    clock.advance(hours(24 * 365));
    EXPECT_FALSE(fireAt(duration_cast<milliseconds>(clock.now() - created)));
    EXPECT_FALSE(archived(currentPath(logger)));
}

// The watch lets go of a file deleted or moved away behind the logger's back (marking a moved file fails
// quietly); the next line goes to a new file.
TEST(DDFileLoggerTest, DeletedOrMovedCurrentFileRollsAndTheNextLineGoesToANewFile) {
    TempDir dir;
    auto logger = DDFileLogger::create(makeManager(dir));
    const std::string moved = dir.file("moved-away");
    for (const bool remove : {true, false}) {
        SCOPED_TRACE(remove ? "deleted" : "moved");
        logger->logData("before\n");
        const auto path = currentPath(logger);
        ASSERT_EQ(remove ? ::unlink(path.c_str()) : ::rename(path.c_str(), moved.c_str()), 0);
        EXPECT_TRUE(eventually([&] {
            bool open = true;
            logger->loggerQueue()->sync([&] { open = logger->lt_isFileOpen(); });
            return !open;
        }));
        logger->logData("after\n");
        EXPECT_EQ(readFile(currentPath(logger)), "after\n");
    }
    EXPECT_FALSE(archived(moved));
    EXPECT_EQ(readFile(moved), "after\nbefore\n");
}

// A file named with a date ahead of the clock (left by a clock that ran ahead and was set back), one from
// long ago, and a clock stepped back while logging: with one file kept, as the service keeps, every line
// reaches the file being written; none goes to a file that the deletion pass removes at once.
TEST(DDFileLoggerTest, EveryLineReachesAFileWhateverTheNamesDatesSay) {
    for (const auto offset : {hours(24), hours(-24 * 365 * 20)}) {
        SCOPED_TRACE(offset.count());
        TempDir dir;
        ManualClock clock;
        auto manager = std::make_shared<DDLogFileManagerDefault>(dir.path(), clock.function());
        manager->setMaximumNumberOfLogFiles(1);
        manager->setLogFilesDiskQuota(0);
        writeFile(dir.file(logName(manager->logFileDateFormatter().format(clock.now() + offset))),
                  "planted\n");
        auto logger = DDFileLogger::create(manager, nullptr, clock.function());
        for (int round = 0; round < 3; ++round) {
            std::string expected;
            for (int i = 0; i < 200; ++i) {
                const std::string line =
                    "round " + std::to_string(round) + " line " + std::to_string(i) + "\n";
                logger->logData(line);
                expected += line;
            }
            manager->waitForDeletionPasses();
            std::string written;
            for (const auto& path : manager->sortedLogFilePaths()) written += readFile(path);
            EXPECT_NE(written.find(expected), std::string::npos)
                << "round " << round << ", " << written.size() << " bytes";
            logger->loggerQueue()->sync([&] { logger->lt_rollLogFileNow(); });
            clock.advance(round == 1 ? hours(-1) : minutes(1));  // the last round starts after a step back
        }
    }
}

// Offers a planted file as the newest, as a careless manager might.
class ForeignFirstManager : public DDLogFileManagerDefault {
  public:
    ForeignFirstManager(const std::string& dir, std::string planted)
        : DDLogFileManagerDefault(dir), planted_(planted) {}
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override {
        auto infos = DDLogFileManagerDefault::sortedLogFileInfos();
        infos.insert(infos.begin(), std::make_shared<DDLogFileInfo>(planted_));
        return infos;
    }

  private:
    std::string planted_;
};

TEST(DDFileLoggerTest, NeverWritesThroughALinkOrIntoAnotherUsersFile) {
    for (const std::string kind : {"symbolic link", "hard link", "another user's file"}) {
        SCOPED_TRACE(kind);
        if (kind == "another user's file" && ::geteuid() != 0) continue;  // only root can chown
        TempDir dir;
        const std::string target = dir.file("victim"),
                          planted = dir.file(logName("2030-01-01--00-00-00-000"));
        writeFile(target, "precious\n");
        if (kind == "another user's file") {
            std::filesystem::copy_file(target, planted);
            ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
        } else {
            ASSERT_EQ((kind == "hard link" ? ::link : ::symlink)(target.c_str(), planted.c_str()), 0);
        }
        auto logger = DDFileLogger::create(std::make_shared<ForeignFirstManager>(dir.path(), planted));
        logger->logData("line\n");
        logger->logData("line 2\n");
        EXPECT_EQ(readFile(target) + readFile(planted), "precious\nprecious\n");
        EXPECT_FALSE(archived(planted));
        EXPECT_EQ(readFile(currentPath(logger)), "line\nline 2\n");
    }
}

TEST(DDFileLoggerTest, CreationFailureIsReportedForEachMessageAndRetried) {
    TempDir dir;
    writeFile(dir.file("not-a-dir"), "");
    auto logger = DDFileLogger::create(std::make_shared<DDLogFileManagerDefault>(dir.file("not-a-dir/logs")));
    ::testing::internal::CaptureStderr();
    logger->logData("lost 1\n");
    logger->logData("lost 2\n");
    const std::string err = ::testing::internal::GetCapturedStderr();
    // Each line tries again, and says why nothing could be written instead of "(null)".
    for (const char* line : {"DDFileLogger: Failed to create new log file: Not a directory\n",
                             "DDFileLogger: Failed to write data: Not a directory\n"})
        EXPECT_EQ(occurrences(err, line), 2u) << line << err;
}

}  // namespace
