#include "logging/DDLogFileManagerDefault.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "logging/internal/FileLoggingTestSupport.h"

using namespace logging::internal::testing;

namespace {

using namespace std::chrono;

// 2026-12-06 03:26:14.123 UTC
const system_clock::time_point kMoment = system_clock::time_point(seconds(1796527574) + milliseconds(123));

std::string appName() {
    return DDLogFileManagerDefault().applicationName();
}

std::shared_ptr<DDLogFileManagerDefault> makeManager(const TempDir& dir, DDWallClock clock = {}) {
    return std::make_shared<DDLogFileManagerDefault>(dir.path(), std::move(clock));
}

TEST(DDLogFileManagerDefaultTest, NamesFilesByUtcTimeAndNumbersCollisionsWithoutOverwriting) {
    TempDir dir;
    ManualClock clock;
    clock.set(kMoment);
    auto manager = makeManager(dir, clock.function());
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    std::error_code error;
    ::umask(0);  // new files are private whatever the umask: log lines may carry what the user selected
    const auto first = manager->createNewLogFileWithError(error);
    ::umask(022);
    ASSERT_TRUE(first.has_value()) << error.message();
    EXPECT_EQ(*first, dir.file(logName("2026-12-06--03-26-14-123")));
    EXPECT_EQ(std::filesystem::status(*first).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    writeFile(*first, "first");
    const auto second = manager->createNewLogFileWithError(error);
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, dir.file(logName("2026-12-06--03-26-14-123 2")));
    EXPECT_EQ(readFile(*first), "first");
    manager->waitForDeletionPasses();
}

// Only this application's own regular files are log files: another application's, a link, a directory,
// another user's file or a hard link to some other file (possible where hard-link protection is off) is never
// listed, so never taken up or deleted.
TEST(DDLogFileManagerDefaultTest, ListsOnlyThisApplicationsOwnRegularFilesNewestFirst) {
    TempDir dir;
    auto manager = makeManager(dir);
    for (const char* date :
         {"2026-12-06--03-26-14-123", "2026-12-07--00-00-00-000", "2025-01-01--00-00-00-000"})
        writeFile(dir.file(logName(date)), "mine");
    const std::string other = dir.file("other 2026-12-08--00-00-00-000.log");
    writeFile(other, "x");
    writeFile(dir.file(appName() + " 2026-12-08--00-00-00-000.txt"), "x");
    ASSERT_EQ(::symlink(other.c_str(), dir.file(logName("2027-01-01--00-00-00-000")).c_str()), 0);
    std::filesystem::create_directory(dir.file(logName("2027-02-01--00-00-00-000")));
    const std::string linked = dir.file(logName("2019-01-01--00-00-00-000"));
    ASSERT_EQ(::link(other.c_str(), linked.c_str()), 0);
    const std::string foreign = dir.file(logName("2020-01-01--00-00-00-000"));
    const bool root = ::geteuid() == 0;  // only root can make a file another user's (chown)
    if (root) {
        writeFile(foreign, "theirs");
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    }
    EXPECT_EQ(manager->sortedLogFileNames(), (std::vector<std::string>{logName("2026-12-07--00-00-00-000"),
                                                                       logName("2026-12-06--03-26-14-123"),
                                                                       logName("2025-01-01--00-00-00-000")}));
    manager->setMaximumNumberOfLogFiles(1);
    manager->waitForDeletionPasses();
    EXPECT_EQ(manager->sortedLogFileNames(), std::vector<std::string>{logName("2026-12-07--00-00-00-000")});
    EXPECT_TRUE(std::filesystem::exists(linked));
    EXPECT_EQ(std::filesystem::exists(foreign), root);
}

// Without limits nothing is deleted; the quota walk stops at the first file over the limit.
TEST(DDLogFileManagerDefaultTest, NoLimitsDeleteNothingAndTheQuotaWalkStopsAtTheFirstFileOverTheLimit) {
    TempDir dir;
    auto manager = makeManager(dir);
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    std::vector<std::string> paths;  // newest first
    for (const char* day : {"03", "02", "01"}) {
        paths.push_back(dir.file(logName(std::string("2026-12-") + day + "--00-00-00-000")));
        writeFile(paths.back(), std::string(100, 'x'));
    }
    std::error_code error;
    ASSERT_TRUE(manager->createNewLogFileWithError(error));
    manager->waitForDeletionPasses();
    ASSERT_EQ(manager->sortedLogFileNames().size(), 4u);
    std::filesystem::remove(manager->sortedLogFilePaths().front());
    manager->setLogFilesDiskQuota(300);  // exactly the total: within the quota
    manager->waitForDeletionPasses();
    EXPECT_EQ(manager->sortedLogFilePaths(), paths);
    writeFile(paths[2], std::string(101, 'x'));
    manager->deleteOldLogFiles();
    paths.pop_back();
    EXPECT_EQ(manager->sortedLogFilePaths(), paths);

    // The newest file alone over the quota is spared while it is being written, not once archived.
    manager->setLogFilesDiskQuota(50);
    manager->waitForDeletionPasses();
    EXPECT_EQ(manager->sortedLogFilePaths(), std::vector<std::string>{paths[0]});
    DDLogFileInfo(paths[0]).setIsArchived(true);
    manager->deleteOldLogFiles();
    EXPECT_TRUE(manager->sortedLogFilePaths().empty());
}

// The default directory is created under the state directory.
TEST(DDLogFileManagerDefaultTest, DefaultDirectoryIsUnderTheStateDirectory) {
    TempDir dir;
    ::setenv("XDG_STATE_HOME", dir.path().c_str(), 1);
    DDLogFileManagerDefault byDefault;
    EXPECT_EQ(byDefault.logsDirectory(),
              (std::filesystem::path(dir.path()) / program_invocation_short_name / "log").string());
    EXPECT_TRUE(std::filesystem::is_directory(byDefault.logsDirectory()));
    ::unsetenv("XDG_STATE_HOME");
}

}  // namespace
