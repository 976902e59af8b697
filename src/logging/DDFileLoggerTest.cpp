#include "logging/DDFileLogger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "dispatch/SerialQueue.h"
#include "logging/DDLog.h"
#include "logging/DDLogFileManagerDefault.h"
#include "logging/internal/FileLoggingTestSupport.h"

using logging::internal::testing::eventually;
using logging::internal::testing::makeManualClock;
using logging::internal::testing::ManualClock;
using logging::internal::testing::readFile;
using logging::internal::testing::TempDir;
using logging::internal::testing::writeFile;

namespace {

using namespace std::chrono;

DDLogMessagePtr record(std::string text) {
    return std::make_shared<DDLogMessage>(std::move(text), LogLevel::All, LogFlag::Info, 0, "f.cpp", "fn", 1,
                                          nullptr, 0, std::nullopt);
}

std::shared_ptr<DDLogFileManagerDefault> makeManager(const TempDir& dir, DDWallClock clock = {}) {
    auto manager = std::make_shared<DDLogFileManagerDefault>(dir.path(), std::move(clock));
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    return manager;
}

// Hands a record to the logger on its queue, as the dispatcher does.
void logLine(const std::shared_ptr<DDFileLogger>& logger, const std::string& text) {
    auto message = record(text);
    logger->loggerQueue()->sync([&] { logger->logMessage(message); });
}

// Raw bytes through the write path (no formatter), on the logger's queue.
void logRaw(const std::shared_ptr<DDFileLogger>& logger, const std::string& bytes) {
    logger->logData(bytes);
}

std::string logName(const std::string& date) {
    return DDLogFileManagerDefault().applicationName() + " " + date + ".log";
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

bool archived(const std::string& path) {
    return DDLogFileInfo(path).isArchived();
}

// A formatter that returns what it was built with.
class FixedFormatter : public DDLogFormatter {
  public:
    explicit FixedFormatter(std::function<DDText(const DDLogMessage&)> format) : format_(std::move(format)) {}
    DDText formatLogMessage(const DDLogMessage& message) override { return format_(message); }

  private:
    std::function<DDText(const DDLogMessage&)> format_;
};

void setFormatterNow(const std::shared_ptr<DDFileLogger>& logger, DDLogFormatterPtr formatter) {
    logger->setLogFormatter(std::move(formatter));
    logger->maximumFileSize();  // both hops have run once this returns
}

TEST(DDFileLoggerTest, DefaultsAndLineFormat) {
    TempDir dir;
    auto logger = DDFileLogger::create(makeManager(dir));
    EXPECT_EQ(logger->loggerName(), "cocoa.vidadudidu.fileLogger");
    EXPECT_EQ(logger->loggerQueue()->label(), "cocoa.vidadudidu.fileLogger");
    EXPECT_EQ(logger->maximumFileSize(), 1048576u);
    EXPECT_EQ(logger->rollingFrequency(), 86400.0);
    EXPECT_FALSE(logger->doNotReuseLogFiles());
    EXPECT_TRUE(logger->automaticallyAppendNewlineForCustomFormatters());
    EXPECT_TRUE(filesIn(dir.path()).empty());  // nothing is created before something is written

    auto message = std::make_shared<DDLogMessage>(
        std::string("Started"), LogLevel::All, LogFlag::Info, 0, "f", "g", 1, nullptr, 0,
        system_clock::time_point(seconds(1796527574)) + milliseconds(123));
    logger->loggerQueue()->sync([&] { logger->logMessage(message); });
    const auto info = logger->currentLogFileInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(readFile(info->filePath()), "2026/12/06 03:26:14:123  Started\n");
}

TEST(DDFileLoggerTest, NewlineRulesAndSuppressedRecords) {
    TempDir dir;
    auto logger = DDFileLogger::create(makeManager(dir));

    setFormatterNow(logger, std::make_shared<FixedFormatter>([](const DDLogMessage&) { return DDText(); }));
    logLine(logger, "dropped");
    setFormatterNow(logger, std::make_shared<FixedFormatter>(
                                [](const DDLogMessage&) { return std::make_shared<const std::string>(""); }));
    logLine(logger, "dropped too");
    EXPECT_TRUE(filesIn(dir.path()).empty());  // no file opened or created for nothing

    logger->setAutomaticallyAppendNewlineForCustomFormatters(false);
    setFormatterNow(logger, std::make_shared<FixedFormatter>([](const DDLogMessage& m) {
                        return std::make_shared<const std::string>("<" + m.message() + ">");
                    }));
    logLine(logger, "custom");
    // Handing back the record's own text is not custom formatting: it gets its newline.
    setFormatterNow(logger,
                    std::make_shared<FixedFormatter>([](const DDLogMessage& m) { return m.messageText(); }));
    logLine(logger, "same");
    logLine(logger, "ends\n");
    setFormatterNow(logger, nullptr);
    logLine(logger, "plain");

    EXPECT_EQ(readFile(logger->currentLogFileInfo()->filePath()), "<custom>same\nends\nplain\n");
}

TEST(DDFileLoggerTest, ReusesTheNewestFileUnlessArchivedDueOrSwitchedOff) {
    TempDir dir;
    auto clock = makeManualClock();
    auto manager = makeManager(dir, clock->function());
    const std::string old = dir.file(logName("2026-12-01--00-00-00-000"));
    writeFile(old, "old\n");

    {
        auto logger = DDFileLogger::create(manager, nullptr, clock->function());
        logRaw(logger, "appended\n");
    }  // destruction leaves the file unarchived
    EXPECT_EQ(readFile(old), "old\nappended\n");
    EXPECT_FALSE(archived(old));

    {
        auto logger = DDFileLogger::create(manager, nullptr, clock->function());
        logger->setDoNotReuseLogFiles(true);
        logRaw(logger, "fresh\n");
        EXPECT_TRUE(archived(old));
        EXPECT_NE(logger->currentLogFileInfo()->filePath(), old);
    }
    EXPECT_EQ(readFile(old), "old\nappended\n");

    // The newest file is now the unarchived "fresh" one; too old for the age limit, it is archived at start.
    const auto newest = manager->sortedLogFilePaths().front();
    ASSERT_EQ(readFile(newest), "fresh\n");
    clock->advance(seconds(101));
    {
        auto logger = DDFileLogger::create(manager, nullptr, clock->function());
        logger->setRollingFrequency(100);
        logRaw(logger, "third\n");
        EXPECT_TRUE(archived(newest));
    }
    // Too large for the size limit: archived likewise.
    const auto third = manager->sortedLogFilePaths().front();
    ASSERT_EQ(readFile(third), "third\n");
    {
        auto logger = DDFileLogger::create(manager, nullptr, clock->function());
        logger->setMaximumFileSize(6);
        logRaw(logger, "fourth\n");
        EXPECT_TRUE(archived(third));
        EXPECT_EQ(readFile(third), "third\n");
    }
}

TEST(DDFileLoggerTest, RollsExactlyAtTheSizeLimit) {
    TempDir dir;
    auto logger = DDFileLogger::create(makeManager(dir));
    logger->setMaximumFileSize(10);  // opens (creates) the file before any message
    const auto first = logger->currentLogFileInfo()->filePath();
    EXPECT_TRUE(std::filesystem::exists(first));

    logRaw(logger, "12345");
    logRaw(logger, "6789");  // 9 bytes: stays
    EXPECT_EQ(logger->currentLogFileInfo()->filePath(), first);
    logRaw(logger, "0");  // exactly 10: rolls after this write
    EXPECT_TRUE(archived(first));
    logRaw(logger, "next");
    const auto second = logger->currentLogFileInfo()->filePath();
    EXPECT_NE(second, first);
    EXPECT_EQ(readFile(first), "1234567890");
    EXPECT_EQ(readFile(second), "next");

    // Limit 0: never rolls by size.
    logger->setMaximumFileSize(0);
    logRaw(logger, std::string(100, 'x'));
    EXPECT_EQ(logger->currentLogFileInfo()->filePath(), second);
}

TEST(DDFileLoggerTest, AgeCheckHasOneSecondOfToleranceAndTheTimerRolls) {
    TempDir dir;
    auto clock = makeManualClock();
    auto logger = DDFileLogger::create(makeManager(dir, clock->function()), nullptr, clock->function());
    logger->setRollingFrequency(100);
    logRaw(logger, "a\n");
    auto info = logger->currentLogFileInfo();
    const auto created = *info->creationDate();

    bool rolled = false, armed = false;
    clock->set(created + milliseconds(98000));  // fires 2 s early: re-arms
    logger->loggerQueue()->sync([&] {
        logger->lt_maybeRollLogFileDueToAge();
        rolled = archived(info->filePath());
        armed = logger->lt_hasRollingTimer();
    });
    EXPECT_FALSE(rolled);
    EXPECT_TRUE(armed);

    clock->set(created + milliseconds(99500));  // fires 0.5 s early: rolls
    logger->loggerQueue()->sync([&] { logger->lt_maybeRollLogFileDueToAge(); });
    EXPECT_TRUE(archived(info->filePath()));

    // The real timer: a file already past its age rolls as soon as it is opened.
    logRaw(logger, "b\n");
    info = logger->currentLogFileInfo();
    clock->set(*info->creationDate() + seconds(101));
    logger->setRollingFrequency(100);  // re-arms for a roll date in the past: fires at once
    EXPECT_TRUE(eventually([&] { return archived(info->filePath()); }));

    // Frequency 0: no timer, no roll by age.
    logger->setRollingFrequency(0);
    logRaw(logger, "c\n");
    clock->advance(hours(24 * 365));
    logger->loggerQueue()->sync([&] {
        logger->lt_maybeRollLogFileDueToAge();
        armed = logger->lt_hasRollingTimer();
    });
    EXPECT_FALSE(armed);
    EXPECT_FALSE(archived(logger->currentLogFileInfo()->filePath()));
}

TEST(DDFileLoggerTest, DeletedOrRenamedCurrentFileRollsAndTheNextLineGoesToANewFile) {
    TempDir dir;
    auto logger = DDFileLogger::create(makeManager(dir));
    logRaw(logger, "one\n");
    const auto first = logger->currentLogFileInfo()->filePath();
    ASSERT_EQ(::unlink(first.c_str()), 0);
    // The watch rolls the file: nothing is open until the next write.
    EXPECT_TRUE(eventually([&] {
        bool open = true;
        logger->loggerQueue()->sync([&] { open = logger->lt_isFileOpen(); });
        return !open;
    }));
    logRaw(logger, "two\n");
    // A new file: the old one is gone, so within the same millisecond the new one may take its free name.
    const auto second = logger->currentLogFileInfo()->filePath();
    EXPECT_EQ(readFile(second), "two\n");

    const std::string moved = dir.file("moved-away");
    ASSERT_EQ(::rename(second.c_str(), moved.c_str()), 0);
    // Marking the moved file fails quietly (it is no longer at its path); the logger lets go of it all the
    // same.
    EXPECT_TRUE(eventually([&] {
        bool open = true;
        logger->loggerQueue()->sync([&] { open = logger->lt_isFileOpen(); });
        return !open;
    }));
    EXPECT_FALSE(archived(moved));
    logRaw(logger, "three\n");
    EXPECT_EQ(readFile(moved), "two\n");
    EXPECT_EQ(readFile(logger->currentLogFileInfo()->filePath()), "three\n");
}

// A file named with a date ahead of the clock (left by a clock that ran ahead and was set back), one from
// long ago, and a clock stepped back while logging: with one file kept, as the service keeps, every line
// reaches the file being written; none goes to a file that the deletion pass removes at once.
TEST(DDFileLoggerTest, EveryLineReachesAFileWhateverTheNamesDatesSay) {
    for (const auto offset : {hours(24), hours(-24 * 365 * 20)}) {
        SCOPED_TRACE(offset.count());
        TempDir dir;
        auto clock = makeManualClock();
        auto manager = std::make_shared<DDLogFileManagerDefault>(dir.path(), clock->function());
        manager->setMaximumNumberOfLogFiles(1);
        manager->setLogFilesDiskQuota(0);
        writeFile(dir.file(logName(manager->logFileDateFormatter().format(clock->now() + offset))),
                  "planted\n");
        auto logger = DDFileLogger::create(manager, nullptr, clock->function());

        for (int round = 0; round < 3; ++round) {
            std::string expected;
            for (int i = 0; i < 200; ++i) {
                const std::string line =
                    "round " + std::to_string(round) + " line " + std::to_string(i) + "\n";
                logRaw(logger, line);
                expected += line;
            }
            manager->waitForDeletionPasses();
            std::string written;
            for (const auto& path : manager->sortedLogFilePaths()) written += readFile(path);
            EXPECT_NE(written.find(expected), std::string::npos)
                << "round " << round << ", " << written.size() << " bytes on disk";
            logger->loggerQueue()->sync([&] { logger->lt_rollLogFileNow(); });
            clock->advance(round == 1 ? hours(-1) : minutes(1));  // the last round starts after a step back
        }
    }
}

TEST(DDFileLoggerTest, RollWithoutAFileStillCompletesAndRemovalArchives) {
    TempDir dir;
    auto logger = DDFileLogger::create(makeManager(dir));
    std::atomic<bool> completed{false};
    logger->rollLogFileWithCompletionBlock([&] { completed = true; });
    EXPECT_TRUE(eventually([&] { return completed.load(); }));
    EXPECT_TRUE(filesIn(dir.path()).empty());

    DDLog& log = DDLog::sharedInstance();
    log.addLogger(logger);
    log.log(true, std::string("through the dispatcher"), LogLevel::All, LogFlag::Info, 0, "f", "g", 1,
            nullptr);
    log.flushLog();
    const auto path = logger->currentLogFileInfo()->filePath();
    EXPECT_NE(readFile(path).find("  through the dispatcher\n"), std::string::npos);
    log.removeLogger(logger);
    logger->maximumFileSize();  // the removal has reached the logger's queue
    EXPECT_TRUE(archived(path));
}

class ForeignFirstManager : public DDLogFileManagerDefault {
  public:
    ForeignFirstManager(const std::string& dir, std::string planted)
        : DDLogFileManagerDefault(dir), planted_(planted) {}
    // Offers a planted file as the newest, as a careless manager might.
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override {
        auto infos = DDLogFileManagerDefault::sortedLogFileInfos();
        infos.insert(infos.begin(), std::make_shared<DDLogFileInfo>(planted_));
        return infos;
    }

  private:
    std::string planted_;
};

TEST(DDFileLoggerTest, NeverWritesThroughALinkOrIntoAnotherUsersFile) {
    TempDir dir;
    const std::string target = dir.file("victim");
    writeFile(target, "precious\n");
    const std::string link = dir.file(logName("2030-01-01--00-00-00-000"));
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);

    auto logger = DDFileLogger::create(std::make_shared<ForeignFirstManager>(dir.path(), link));
    logRaw(logger, "line\n");
    logRaw(logger, "line 2\n");
    EXPECT_EQ(readFile(target), "precious\n");
    const auto used = logger->currentLogFileInfo()->filePath();
    EXPECT_NE(used, link);
    EXPECT_EQ(readFile(used), "line\nline 2\n");

    // A hard link to another file of the user: offered as the newest file, still never appended to.
    const std::string hardLink = dir.file(logName("2030-02-01--00-00-00-000"));
    ASSERT_EQ(::link(target.c_str(), hardLink.c_str()), 0);
    auto third = DDFileLogger::create(std::make_shared<ForeignFirstManager>(dir.path(), hardLink));
    logRaw(third, "not there\n");
    EXPECT_EQ(readFile(target), "precious\n");
    EXPECT_NE(third->currentLogFileInfo()->filePath(), hardLink);

    if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a file owned by another user (chown)";
    const std::string foreign = dir.file(logName("2031-01-01--00-00-00-000"));
    writeFile(foreign, "theirs\n");
    ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    auto second = DDFileLogger::create(std::make_shared<ForeignFirstManager>(dir.path(), foreign));
    logRaw(second, "mine\n");
    EXPECT_EQ(readFile(foreign), "theirs\n");
    EXPECT_FALSE(archived(foreign));
    EXPECT_EQ(readFile(second->currentLogFileInfo()->filePath()), "mine\n");
}

TEST(DDFileLoggerTest, CreationFailureIsReportedForEachMessageAndRetried) {
    TempDir dir;
    writeFile(dir.file("not-a-dir"), "");
    auto logger = DDFileLogger::create(std::make_shared<DDLogFileManagerDefault>(dir.file("not-a-dir/logs")));
    ::testing::internal::CaptureStderr();
    logRaw(logger, "lost 1\n");
    logRaw(logger, "lost 2\n");
    const std::string err = ::testing::internal::GetCapturedStderr();
    auto count = [&](const std::string& needle) {
        size_t n = 0;
        for (size_t at = 0; (at = err.find(needle, at)) != std::string::npos; ++at) ++n;
        return n;
    };
    EXPECT_EQ(count("DDFileLogger: Failed to create new log file: Not a directory\n"), 2u) << err;
    // The lines that follow say why nothing could be written instead of "(null)".
    EXPECT_EQ(count("DDFileLogger: Failed to seek to end of file: Not a directory\n"), 2u) << err;
    EXPECT_EQ(count("DDFileLogger: Failed to write data: Not a directory\n"), 2u) << err;
    EXPECT_EQ(count("DDLogFileManagerDefault: Bailing file creation, encountered 5 errors.\n"), 2u) << err;
}

class ThrowingLogger : public DDFileLogger {
  public:
    using DDFileLogger::DDFileLogger;
    std::atomic<bool> throwing{true};

  protected:
    using DDFileLogger::willLogMessage;
    void willLogMessage(const DDLogFileInfoPtr&) override {
        if (throwing) throw std::runtime_error("boom");
    }
};

TEST(DDFileLoggerTest, TenthExceptionPrintsTwoLinesAndLaterOnesNothing) {
    if (DDFileLogger::exceptionCount() != 0)
        GTEST_SKIP() << "the process-wide exception count is already in use";
    TempDir dir;
    auto logger = std::make_shared<ThrowingLogger>(makeManager(dir));
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 9; ++i) logRaw(logger, "x\n");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 9) << err;

    ::testing::internal::CaptureStderr();
    logRaw(logger, "tenth\n");
    err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("DDFileLogger.logMessage: boom\n"), std::string::npos) << err;
    EXPECT_NE(err.find("DDFileLogger.logMessage: Too many exceptions -- will not log any more of them.\n"),
              std::string::npos)
        << err;

    ::testing::internal::CaptureStderr();
    logRaw(logger, "eleventh\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(DDFileLogger::exceptionCount(), 11);

    logger->throwing = false;  // still usable
    logRaw(logger, "fine\n");
    EXPECT_EQ(readFile(logger->currentLogFileInfo()->filePath()), "fine\n");
}

}  // namespace
