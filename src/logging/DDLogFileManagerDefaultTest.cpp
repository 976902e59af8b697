#include "logging/DDLogFileManagerDefault.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "logging/internal/FileLoggingTestSupport.h"

using namespace logging::internal::testing;

namespace {

using namespace std::chrono;

// 2026-12-06 03:26:14.123 UTC
const system_clock::time_point kMoment = system_clock::time_point(seconds(1796527574) + milliseconds(123));

std::string appName() {
    return DDLogFileManagerDefault().applicationName();
}

std::vector<std::string> sortedNamesOnDisk(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
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
    EXPECT_EQ(manager->newLogFileName(), logName("2026-12-06--03-26-14-123"));

    std::error_code error;
    const auto first = manager->createNewLogFileWithError(error);
    ASSERT_TRUE(first.has_value()) << error.message();
    EXPECT_EQ(*first, dir.file(logName("2026-12-06--03-26-14-123")));
    writeFile(*first, "first");
    const auto second = manager->createNewLogFileWithError(error);
    const auto third = manager->createNewLogFileWithError(error);
    ASSERT_TRUE(second && third);
    EXPECT_EQ(*second, dir.file(logName("2026-12-06--03-26-14-123 2")));
    EXPECT_EQ(*third, dir.file(logName("2026-12-06--03-26-14-123 3")));
    EXPECT_EQ(readFile(*first), "first");

    // New files are private: log lines may carry what the user selected.
    ::umask(0);
    const auto fourth = manager->createNewLogFileWithError(error);
    ::umask(022);
    struct stat st {};
    ASSERT_EQ(::stat(fourth->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    manager->waitForDeletionPasses();
}

TEST(DDLogFileManagerDefaultTest, ListsOnlyThisApplicationsOwnRegularFilesNewestFirst) {
    TempDir dir;
    auto manager = makeManager(dir);
    writeFile(dir.file(logName("2026-12-06--03-26-14-123")), "a");
    writeFile(dir.file(logName("2026-12-07--00-00-00-000")), "b");
    writeFile(dir.file(logName("2025-01-01--00-00-00-000")), "c");
    writeFile(dir.file("other 2026-12-08--00-00-00-000.log"), "x");
    writeFile(dir.file(appName() + " 2026-12-08--00-00-00-000.txt"), "x");
    writeFile(dir.file(appName() + "2026-12-08--00-00-00-000.log"), "x");
    ASSERT_EQ(::symlink(dir.file("other 2026-12-08--00-00-00-000.log").c_str(),
                        dir.file(logName("2027-01-01--00-00-00-000")).c_str()),
              0);
    std::filesystem::create_directory(dir.file(logName("2027-02-01--00-00-00-000")));

    EXPECT_EQ(manager->sortedLogFileNames(), (std::vector<std::string>{logName("2026-12-07--00-00-00-000"),
                                                                       logName("2026-12-06--03-26-14-123"),
                                                                       logName("2025-01-01--00-00-00-000")}));
    EXPECT_EQ(manager->unsortedLogFilePaths().size(), 3u);
    EXPECT_EQ(manager->sortedLogFilePaths().front(), dir.file(logName("2026-12-07--00-00-00-000")));

    // Numbered names do not parse as dates and are ordered by creation time.
    TempDir numbered;
    auto second = makeManager(numbered);
    writeFile(numbered.file(logName("2026-12-06--03-26-14-123 3")), "");
    ::usleep(10000);
    writeFile(numbered.file(logName("2026-12-06--03-26-14-123 2")), "");
    EXPECT_EQ(second->sortedLogFileNames(),
              (std::vector<std::string>{logName("2026-12-06--03-26-14-123 2"),
                                        logName("2026-12-06--03-26-14-123 3")}));
}

// Neither another user's file nor a hard link to some other file (possible where hard-link protection is off)
// is a log file of ours: never listed, so never taken up or deleted.
TEST(DDLogFileManagerDefaultTest, ForeignAndHardLinkedFilesAreNeitherListedNorDeleted) {
    TempDir dir;
    auto manager = makeManager(dir);
    const std::string target = dir.file("precious");
    writeFile(target, "precious");
    const std::string linked = dir.file(logName("2019-01-01--00-00-00-000"));
    ASSERT_EQ(::link(target.c_str(), linked.c_str()), 0);
    const std::string foreign = dir.file(logName("2020-01-01--00-00-00-000"));
    const bool root = ::geteuid() == 0;  // only root can make a file another user's (chown)
    if (root) {
        writeFile(foreign, "theirs");
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    }
    writeFile(dir.file(logName("2021-01-01--00-00-00-000")), "mine");
    EXPECT_EQ(manager->sortedLogFileNames(), std::vector<std::string>{logName("2021-01-01--00-00-00-000")});
    manager->setMaximumNumberOfLogFiles(1);
    std::error_code error;
    ASSERT_TRUE(manager->createNewLogFileWithError(error));
    manager->waitForDeletionPasses();
    EXPECT_TRUE(std::filesystem::exists(linked));
    EXPECT_EQ(std::filesystem::exists(foreign), root);
    EXPECT_EQ(manager->sortedLogFileNames().size(), 1u);
}

TEST(DDLogFileManagerDefaultTest, CountLimitDeletesTheOldest) {
    TempDir dir;
    auto manager = makeManager(dir);
    for (int i = 1; i <= 6; ++i)
        writeFile(dir.file(logName("2026-12-0" + std::to_string(i) + "--00-00-00-000")), "x");

    // Setting the value already in force starts no pass.
    manager->setMaximumNumberOfLogFiles(5);
    manager->waitForDeletionPasses();
    EXPECT_EQ(manager->sortedLogFileNames().size(), 6u);

    manager->setMaximumNumberOfLogFiles(3);
    manager->waitForDeletionPasses();
    EXPECT_EQ(manager->sortedLogFileNames(), (std::vector<std::string>{logName("2026-12-06--00-00-00-000"),
                                                                       logName("2026-12-05--00-00-00-000"),
                                                                       logName("2026-12-04--00-00-00-000")}));

    // A count of 1: creating a file leaves only that file.
    manager->setMaximumNumberOfLogFiles(1);
    manager->waitForDeletionPasses();
    std::error_code error;
    ManualClock clock;
    clock.set(kMoment + hours(24 * 30));
    auto later = makeManager(dir, clock.function());
    later->setLogFilesDiskQuota(0);
    later->setMaximumNumberOfLogFiles(1);
    const auto created = later->createNewLogFileWithError(error);
    later->waitForDeletionPasses();
    EXPECT_EQ(sortedNamesOnDisk(dir.path()),
              std::vector<std::string>{std::filesystem::path(*created).filename()});

    // No limits: nothing is ever deleted.
    later->setMaximumNumberOfLogFiles(0);
    for (int i = 1; i <= 8; ++i) ASSERT_TRUE(later->createNewLogFileWithError(error));
    later->waitForDeletionPasses();
    EXPECT_EQ(sortedNamesOnDisk(dir.path()).size(), 9u);
}

TEST(DDLogFileManagerDefaultTest, QuotaWalkStopsAtTheFirstFileOverTheLimit) {
    TempDir dir;
    auto manager = makeManager(dir);
    manager->setMaximumNumberOfLogFiles(0);
    const std::string newest = dir.file(logName("2026-12-03--00-00-00-000"));
    const std::string middle = dir.file(logName("2026-12-02--00-00-00-000"));
    const std::string oldest = dir.file(logName("2026-12-01--00-00-00-000"));
    writeFile(newest, std::string(100, 'n'));
    writeFile(middle, std::string(100, 'm'));
    writeFile(oldest, std::string(100, 'o'));

    manager->setLogFilesDiskQuota(300);  // exactly the total: within the quota
    manager->waitForDeletionPasses();
    EXPECT_EQ(manager->sortedLogFileNames().size(), 3u);

    writeFile(oldest, std::string(101, 'o'));
    manager->deleteOldLogFiles();
    EXPECT_FALSE(std::filesystem::exists(oldest));
    EXPECT_TRUE(std::filesystem::exists(middle));
    EXPECT_TRUE(std::filesystem::exists(newest));

    // The newest file alone over the quota is spared while it is being written, not once archived.
    manager->setLogFilesDiskQuota(50);
    manager->waitForDeletionPasses();
    EXPECT_EQ(manager->sortedLogFilePaths(), std::vector<std::string>{newest});
    DDLogFileInfo(newest).setIsArchived(true);
    manager->deleteOldLogFiles();
    EXPECT_TRUE(manager->sortedLogFilePaths().empty());
}

class HeaderManager : public DDLogFileManagerDefault {
  public:
    using DDLogFileManagerDefault::DDLogFileManagerDefault;
    std::optional<std::string> logFileHeader() override { return "# header"; }
};

TEST(DDLogFileManagerDefaultTest, HeaderAndDefaultDirectory) {
    TempDir dir;
    auto manager = std::make_shared<HeaderManager>(dir.path());
    std::error_code error;
    const auto path = manager->createNewLogFileWithError(error);
    ASSERT_TRUE(path);
    EXPECT_EQ(readFile(*path), "# header\n");
    manager->waitForDeletionPasses();

    ::setenv("XDG_STATE_HOME", dir.path().c_str(), 1);
    DDLogFileManagerDefault byDefault;
    EXPECT_EQ(byDefault.logsDirectory(),
              (std::filesystem::path(dir.path()) / program_invocation_short_name / "log").string());
    EXPECT_TRUE(std::filesystem::is_directory(byDefault.logsDirectory()));
    ::unsetenv("XDG_STATE_HOME");
}

}  // namespace
