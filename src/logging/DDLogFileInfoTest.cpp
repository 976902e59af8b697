#include "logging/DDLogFileInfo.h"

#include <gtest/gtest.h>
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

TEST(DDLogFileInfoTest, ArchivedMarkIsOneByteAndOddValuesAreRepaired) {
    TempDir dir;
    const std::string path = dir.file("app 1.log");
    writeFile(path, "x");
    DDLogFileInfo info(path);
    EXPECT_FALSE(info.isArchived());
    info.setIsArchived(true);
    EXPECT_EQ(markValue(path), "\x01");

    // Another single byte still means archived and is rewritten as 0x01; a longer value is not a mark and is
    // left alone.
    const std::tuple<std::string, bool, std::string> cases[] = {{"Z", true, "\x01"},
                                                                {"\x01\x01", false, "\x01\x01"}};
    for (const auto& [value, isArchived, after] : cases) {
        ASSERT_EQ(::setxattr(path.c_str(), kMark, value.data(), value.size(), 0), 0);
        EXPECT_EQ(DDLogFileInfo(path).isArchived(), isArchived);
        EXPECT_EQ(markValue(path), after);
    }
    info.setIsArchived(false);
    EXPECT_EQ(markValue(path), "<none>");
}

}  // namespace
