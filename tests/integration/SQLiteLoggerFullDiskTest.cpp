// The SQLite logger on a file system that fills up: the save that meets the full disk is reported with the
// entries it lost, nothing crashes, and the rows of later saves land in the database once space is freed.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PrivateTmpfs.h"
#include "logging/extensions/DDSQLiteLogger.h"
#include "logging/extensions/internal/SQLiteTestSupport.h"

namespace {

using logging::internal::testing::logAndSave;
using logging::internal::testing::sqlite3Command;

TEST(SQLiteLoggerFullDiskTest, ASaveOnAFullDiskIsReportedAndLaterSavesLandOnceSpaceIsFreed) {
    const std::string& mountPoint = PrivateTmpfs::mountPoint();
    if (mountPoint.empty()) GTEST_SKIP() << PrivateTmpfs::skipReason();
    const std::string path = mountPoint + "/db/log.sqlite3";
    auto logger = DDSQLiteLogger::create(path);
    ASSERT_EQ(logAndSave(*logger, {"first"}), "");

    const std::string filler = mountPoint + "/filler";
    {
        std::ofstream out(filler, std::ios::binary);
        const std::string block(4096, 'f');
        while (out.write(block.data(), block.size())) {
        }
    }
    const std::vector<std::string> lost(200, std::string(200, 'x'));
    const std::string err = logAndSave(*logger, lost);
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
    PrivateTmpfs::setUp("512k");
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    PrivateTmpfs::tearDown();
    return result;
}
