#include "logging/DDLogFileInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "logging/internal/FileLoggingTestSupport.h"

using namespace logging::internal::testing;

namespace {

constexpr const char* kMark = DDLogFileInfo::kArchivedAttributeName;

std::string markValue(const std::string& path) {
    char value[16];
    const ssize_t n = ::getxattr(path.c_str(), kMark, value, sizeof value);
    return n < 0 ? std::string("<none>") : std::string(value, static_cast<size_t>(n));
}

void setMark(const std::string& path, const std::string& value) {
    ASSERT_EQ(::setxattr(path.c_str(), kMark, value.data(), value.size(), 0), 0);
}

TEST(DDLogFileInfoTest, ArchivedMarkReadsOneByteAndRepairsOddValues) {
    TempDir dir;
    const std::string path = dir.file("app 1.log");
    writeFile(path, "x");
    DDLogFileInfo info(path);

    EXPECT_FALSE(info.isArchived());
    info.setIsArchived(true);
    EXPECT_TRUE(info.isArchived());
    EXPECT_EQ(markValue(path), "\x01");

    // An empty mark or another single byte still means archived, and is rewritten as 0x01.
    setMark(path, "");
    EXPECT_TRUE(info.isArchived());
    EXPECT_EQ(markValue(path), "\x01");
    setMark(path, "Z");
    EXPECT_TRUE(DDLogFileInfo(path).isArchived());
    EXPECT_EQ(markValue(path), "\x01");

    // A longer value is not a mark (ERANGE) and is left alone.
    setMark(path, "\x01\x01");
    EXPECT_FALSE(info.isArchived());
    EXPECT_EQ(markValue(path), "\x01\x01");

    setMark(path, "\x01");
    info.setIsArchived(false);
    EXPECT_FALSE(info.isArchived());
    EXPECT_EQ(markValue(path), "<none>");

    // Unmarking an unmarked file and marking one deleted behind our back are quiet.
    ::testing::internal::CaptureStderr();
    info.setIsArchived(false);
    ::unlink(path.c_str());
    info.setIsArchived(true);
    EXPECT_FALSE(info.isArchived());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    // A symbolic link is seen as a link, and marking it leaves its target untouched.
    const std::string target = dir.file("target");
    writeFile(target, "secret");
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    DDLogFileInfo link(path);
    EXPECT_FALSE(link.fileAttributes().isRegularFile());
    EXPECT_FALSE(link.isArchived());
    ::testing::internal::CaptureStderr();
    link.setIsArchived(true);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(markValue(target), "<none>");
}

TEST(DDLogFileInfoTest, AttributesAreKeptUntilResetButTheSizeStaysAndAMissingFileIsReportedAtEachRead) {
    TempDir dir;
    DDLogFileInfo missing(dir.file("gone.log"));
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(missing.fileAttributes().empty());
    EXPECT_FALSE(missing.creationDate().has_value());
    EXPECT_EQ(missing.fileSize(), 0u);
    EXPECT_EQ(missing.age(), 0.0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_GE(occurrences(err, "DDLogFileInfo: Failed to read file attributes: "), 3u) << err;
    EXPECT_NE(err.find("[" + std::to_string(getpid()) + "] "), std::string::npos) << err;

    const std::string path = dir.file("app 1.log");
    writeFile(path, "12345");
    ManualClock clock;
    DDLogFileInfo info(path, clock.function());

    ASSERT_TRUE(info.creationDate().has_value());
    EXPECT_EQ(info.fileSize(), 5u);
    EXPECT_TRUE(info.fileAttributes().isRegularFile());
    EXPECT_EQ(*info.fileAttributes().ownerUid, ::geteuid());
    EXPECT_EQ(info.fileName(), "app 1.log");

    clock.set(*info.creationDate() + std::chrono::seconds(90));
    EXPECT_NEAR(info.age(), 90.0, 1e-6);

    writeFile(path, "1234567890");
    EXPECT_EQ(info.fileSize(), 5u);
    EXPECT_EQ(*info.fileAttributes().fileSize, 5u);
    info.reset();
    EXPECT_EQ(*info.fileAttributes().fileSize, 10u);  // attributes read anew
    EXPECT_EQ(info.fileSize(), 5u);                   // the kept size stays
}

TEST(DDLogFileInfoTest, RenameReplacesTakenNamesAndFollowsTheNewPathEvenOnFailure) {
    TempDir dir;
    const std::string path = dir.file("a.log");
    writeFile(path, "mine");
    writeFile(dir.file("b.log"), "theirs");
    DDLogFileInfo info(path);

    info.renameFile("a.log");
    EXPECT_EQ(info.filePath(), path);

    info.renameFile("b.log");
    EXPECT_EQ(info.filePath(), dir.file("b.log"));
    EXPECT_EQ(info.fileName(), "b.log");
    EXPECT_EQ(readFile(dir.file("b.log")), "mine");
    EXPECT_FALSE(std::filesystem::exists(path));

    ::testing::internal::CaptureStderr();
    info.renameFile("missing-dir/c.log");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("DDLogFileInfo: Error renaming file (b.log): "), std::string::npos) << err;
    EXPECT_EQ(info.filePath(), dir.file("missing-dir/c.log"));
}

}  // namespace
