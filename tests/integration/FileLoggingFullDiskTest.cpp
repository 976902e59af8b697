// The file logger on a file system that fills up: logging keeps going without crashing, the lost lines are
// reported as write failures, and lines land in the file again once space is freed.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "PrivateTmpfs.h"
#include "logging/DDFileLogger.h"
#include "logging/DDLogFileManagerDefault.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(FileLoggingFullDiskTest, KeepsGoingOnAFullDiskAndResumesWhenSpaceIsFreed) {
    const std::string& mountPoint = PrivateTmpfs::mountPoint();
    if (mountPoint.empty()) GTEST_SKIP() << PrivateTmpfs::skipReason();
    const std::string logs = mountPoint + "/logs";
    auto manager = std::make_shared<DDLogFileManagerDefault>(logs);
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    auto logger = DDFileLogger::create(manager);
    logger->setMaximumFileSize(0);
    const std::string path = logger->currentLogFileInfo()->filePath();

    // Fill nearly all of the file system, leaving room for a few lines only.
    const std::string filler = mountPoint + "/filler";
    {
        std::ofstream out(filler, std::ios::binary);
        const std::string block(4096, 'f');
        while (out.write(block.data(), block.size())) {
        }
    }
    std::filesystem::resize_file(filler, std::filesystem::file_size(filler) - 8192);

    ::testing::internal::CaptureStderr();
    const std::string line(100, 'x');
    for (int i = 0; i < 400; ++i) logger->logData("line " + std::to_string(i) + " " + line + "\n");
    logger->flush();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("DDFileLogger: Failed to write data: No space left on device"), std::string::npos)
        << err;
    const auto sizeWhenFull = std::filesystem::file_size(path);
    EXPECT_GT(sizeWhenFull, 0u);
    EXPECT_LT(sizeWhenFull, 400u * 106u);

    std::filesystem::remove(filler);
    logger->logData("resumed after space was freed\n");
    logger->flush();
    const std::string text = readFile(path);
    EXPECT_EQ(text.substr(text.size() - 30), "resumed after space was freed\n");
    EXPECT_EQ(logger->currentLogFileInfo()->filePath(), path);
}

}  // namespace

int main(int argc, char** argv) {
    PrivateTmpfs::setUp("256k");
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    PrivateTmpfs::tearDown();
    return result;
}
