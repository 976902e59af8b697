#include "logging/DDLogMessage.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "logging/DDLogFlags.h"

namespace {

DDLogMessagePtr makeRecord(std::string text = "hello", std::int64_t options = 0,
                           const char* file = "/src/a/main.m",
                           std::optional<DDLogMessage::Clock::time_point> timestamp = std::nullopt,
                           DDTag tag = nullptr) {
    return std::make_shared<DDLogMessage>(std::move(text), LogLevel::Debug, LogFlag::Info, 7, file,
                                          "void f()", 12, std::move(tag), options, timestamp);
}

TEST(DDLogMessageTest, FileNameIsTheLastComponentWithoutItsLastExtension) {
    EXPECT_EQ(DDLogMessage::deriveFileName("/Helper/src/logging.m"), "logging");
    EXPECT_EQ(DDLogMessage::deriveFileName("/x/a.tar.gz"), "a.tar");
    EXPECT_EQ(DDLogMessage::deriveFileName("/x.d/Makefile"), "Makefile");
    EXPECT_EQ(DDLogMessage::deriveFileName("/x/.hidden"), "");
    EXPECT_EQ(DDLogMessage::deriveFileName("plain.cpp"), "plain");
    EXPECT_EQ(DDLogMessage::deriveFileName(""), "");
    EXPECT_EQ(makeRecord()->fileName(), "main");
}

TEST(DDLogMessageTest, OptionsDecideWhatIsCopied) {
    std::string file = "/tmp/dir/source.cpp";
    const auto viewed = makeRecord("m", 0, file.c_str());
    EXPECT_EQ(viewed->file().data(), file.c_str());
    const auto copied =
        makeRecord("m", LogMessageOptions::CopyFile | LogMessageOptions::CopyFunction, file.c_str());
    EXPECT_NE(copied->file().data(), file.c_str());
    file.assign("/changed/other.cpp");
    EXPECT_EQ(copied->file(), "/tmp/dir/source.cpp");
    EXPECT_EQ(copied->fileName(), "source");
    EXPECT_EQ(copied->options(), 3);

    auto text = std::make_shared<const std::string>("shared text");
    const DDLogMessage record(text, 1, 1, 0, "f", "g", 1, nullptr, LogMessageOptions::DontCopyMessage,
                              std::nullopt);
    EXPECT_EQ(record.messageText(), text);
    const DDLogMessage nullText(DDText{}, 1, 1, 0, "f", "g", 1, nullptr, 0, std::nullopt);
    EXPECT_EQ(nullText.message(), "");
}

TEST(DDLogMessageTest, CopyHasTheSameFieldsButIsNotEqual) {
    const auto source = makeRecord("m", LogMessageOptions::CopyFile, "/a/b.c");
    const DDLogMessage copy(*source);
    EXPECT_TRUE(source->isEqual(*source));
    EXPECT_FALSE(copy.isEqual(*source));
    EXPECT_FALSE(source->isEqual(copy));
    EXPECT_EQ(copy.fileName(), "b");  // the other fields: DDMultiFormatterTest compares every one of a copy

    const auto changed = source->copyWithMessage(std::make_shared<const std::string>("new"));
    EXPECT_EQ(changed->message(), "new");
    EXPECT_EQ(source->message(), "m");
    EXPECT_EQ(changed->line(), source->line());
}

// Names, labels and QoS of other threads and queues: DDDispatchQueueLogFormatterTest.
TEST(DDLogMessageTest, ThreadFactsComeFromTheLoggingThread) {
    const auto here = makeRecord();
    EXPECT_EQ(here->threadID(), std::to_string(gettid()));
    EXPECT_EQ(here->threadName(), "");  // the main thread carries only the program's name
    EXPECT_EQ(here->queueLabel(), "");
    pid_t otherId = 0;
    DDLogMessagePtr other;
    std::thread([&] {
        otherId = gettid();
        other = makeRecord();
    }).join();
    EXPECT_EQ(other->threadID(), std::to_string(otherId));
}

}  // namespace
