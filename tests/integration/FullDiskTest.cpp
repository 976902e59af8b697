// The file logger and the SQLite logger on a file system that fills up: a small tmpfs in a private mount
// namespace. Logging keeps going without crashing, the loss is reported, and what is logged once space is
// freed lands again.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "logging/DDFileLogger.h"
#include "logging/DDLogFileManagerDefault.h"
#include "logging/extensions/DDSQLiteLogger.h"
#include "logging/extensions/internal/SQLiteTestSupport.h"
#include "logging/internal/FileLoggingTestSupport.h"

namespace {

using namespace logging::internal::testing;

std::string mountPoint, skipReason;  // set by main before any thread exists

// Mounts a small tmpfs in a private mount namespace; needs root, otherwise leaves a reason to skip with.
void mountPrivateTmpfs() {
    std::string dir = "/tmp/ddfull-XXXXXX";
    if (::geteuid() != 0) {
        skipReason = "needs root to mount a small tmpfs in a private mount namespace";
    } else if (::unshare(CLONE_NEWNS) != 0 ||
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        skipReason = std::string("cannot enter a private mount namespace: ") + std::strerror(errno);
    } else if (::mkdtemp(dir.data()) == nullptr ||
               ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=512k,mode=0700") != 0) {
        skipReason = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    } else {
        mountPoint = dir;
    }
}

// Fills the file system but for `leave` bytes; returns the filler, whose removal frees the space again (the
// next fill truncates it first).
std::string fill(std::uintmax_t leave) {
    const std::string path = mountPoint + "/filler";
    {
        std::ofstream out(path, std::ios::binary);
        const std::string block(4096, 'f');
        while (out.write(block.data(), block.size())) {
        }
    }
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - leave);
    return path;
}

class FullDiskTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (mountPoint.empty()) GTEST_SKIP() << skipReason;
    }
};

TEST_F(FullDiskTest, FileLoggerKeepsGoingAndResumesWhenSpaceIsFreed) {
    auto manager = std::make_shared<DDLogFileManagerDefault>(mountPoint + "/logs");
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    auto logger = DDFileLogger::create(manager);
    logger->setMaximumFileSize(0);
    const std::string path = logger->currentLogFileInfo()->filePath();

    const std::string filler = fill(8192);  // room for a few lines only
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 400; ++i)
        logger->logData("line " + std::to_string(i) + " " + std::string(100, 'x') + "\n");
    logger->flush();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("DDFileLogger: Failed to write data: No space left on device"), std::string::npos)
        << err;
    EXPECT_LT(std::filesystem::file_size(path), 400u * 106u);

    std::filesystem::remove(filler);
    logger->logData("resumed after space was freed\n");
    logger->flush();
    const std::string text = readFile(path);
    EXPECT_EQ(text.substr(text.size() - 30), "resumed after space was freed\n");
    EXPECT_EQ(logger->currentLogFileInfo()->filePath(), path);
}

TEST_F(FullDiskTest, SQLiteSaveIsReportedWithItsLossAndLaterSavesLand) {
    const std::string path = mountPoint + "/db/log.sqlite3";
    auto logger = DDSQLiteLogger::create(path);
    ASSERT_EQ(logAndSave(*logger, {"first"}), "");

    const std::string filler = fill(0);
    const std::string err = logAndSave(*logger, std::vector<std::string>(200, std::string(200, 'x')));
    EXPECT_NE(err.find("DDSQLiteLogger: Failed to save log entries to " + path +
                       ": database or disk is full; 200 entries lost\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;

    std::filesystem::remove(filler);
    EXPECT_EQ(logAndSave(*logger, {"later"}), "");
    EXPECT_EQ(sqlite3Command(path, "SELECT group_concat(message) FROM logs"), "first,later\n");
}

}  // namespace

int main(int argc, char** argv) {
    mountPrivateTmpfs();  // unshare(CLONE_NEWNS) needs a process that has no other thread yet
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (!mountPoint.empty()) {
        ::umount2(mountPoint.c_str(), MNT_DETACH);
        ::rmdir(mountPoint.c_str());
    }
    return result;
}
