#include "logging/DDLogMessage.h"

#include <gtest/gtest.h>

#include <string>

#include "logging/DDLogFlags.h"

namespace {

DDLogMessagePtr makeRecord(std::int64_t options = 0, const char* file = "/src/a/main.m") {
    return std::make_shared<DDLogMessage>(std::string("m"), LogLevel::Debug, LogFlag::Info, 7, file,
                                          "void f()", 12, nullptr, options, std::nullopt);
}

TEST(DDLogMessageTest, FileNameIsTheLastComponentWithoutItsLastExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/x/a.tar.gz", "a.tar"}, {"/x.d/Makefile", "Makefile"}, {"/x/.hidden", ""}, {"plain.cpp", "plain"}};
    for (const auto& [path, name] : cases) EXPECT_EQ(DDLogMessage::deriveFileName(path), name) << path;
}

TEST(DDLogMessageTest, OptionsDecideWhatIsCopiedAndACopyIsNotEqual) {
    std::string file = "/tmp/dir/source.cpp";
    const auto viewed = makeRecord(0, file.c_str());
    EXPECT_EQ(viewed->file().data(), file.c_str());
    const auto copied =
        makeRecord(LogMessageOptions::CopyFile | LogMessageOptions::CopyFunction, file.c_str());
    EXPECT_NE(copied->file().data(), file.c_str());
    file.assign("/changed/other.cpp");
    EXPECT_EQ(copied->file(), "/tmp/dir/source.cpp");
    EXPECT_EQ(copied->fileName(), "source");

    auto text = std::make_shared<const std::string>("shared text");
    const DDLogMessage record(text, 1, 1, 0, "f", "g", 1, nullptr, LogMessageOptions::DontCopyMessage,
                              std::nullopt);
    EXPECT_EQ(record.messageText(), text);
    const DDLogMessage nullText(DDText{}, 1, 1, 0, "f", "g", 1, nullptr, 0, std::nullopt);
    EXPECT_EQ(nullText.message(), "");

    // A copy has the same fields but is not equal.
    const auto source = makeRecord(LogMessageOptions::CopyFile, "/a/b.c");
    const DDLogMessage copy(*source);
    EXPECT_TRUE(source->isEqual(*source));
    EXPECT_FALSE(copy.isEqual(*source));
    EXPECT_EQ(copy.fileName(), "b");  // the other fields, and copyWithMessage: DDMultiFormatterTest
}

}  // namespace
