#include "logging/DDLogMessage.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "dispatch/SerialQueue.h"
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

TEST(DDLogMessageTest, TimestampDefaultsToNow) {
    const auto before = DDLogMessage::Clock::now();
    const auto record = makeRecord();
    EXPECT_GE(record->timestamp(), before);
    EXPECT_LE(record->timestamp(), DDLogMessage::Clock::now());
    const auto given = DDLogMessage::Clock::time_point(std::chrono::milliseconds(1234567));
    EXPECT_EQ(makeRecord("x", 0, "f", given)->timestamp(), given);
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
    EXPECT_EQ(copy.messageText(), source->messageText());
    EXPECT_EQ(copy.file().data(), source->file().data());
    EXPECT_EQ(copy.fileName(), "b");
    EXPECT_EQ(copy.timestamp(), source->timestamp());
    EXPECT_EQ(copy.threadID(), source->threadID());
    EXPECT_EQ(copy.queueLabel(), source->queueLabel());
    EXPECT_EQ(source->hash(), source->hash());

    const auto changed = source->copyWithMessage(std::make_shared<const std::string>("new"));
    EXPECT_EQ(changed->message(), "new");
    EXPECT_EQ(source->message(), "m");
    EXPECT_EQ(changed->line(), source->line());
}

TEST(DDLogMessageTest, ThreadFactsComeFromTheLoggingThread) {
    const auto here = makeRecord();
    EXPECT_EQ(here->threadID(), std::to_string(gettid()));
    EXPECT_EQ(here->threadName(), "");  // the main thread carries only the program's name
    EXPECT_EQ(here->queueLabel(), "");
    EXPECT_EQ(here->qos(), 0u);

    DDLogMessagePtr named, unnamed;
    pid_t namedId = 0;
    std::thread([&] {
        pthread_setname_np(pthread_self(), "log-worker");
        namedId = gettid();
        named = makeRecord();
    }).join();
    std::thread([&] { unnamed = makeRecord(); }).join();
    EXPECT_EQ(named->threadName(), "log-worker");
    EXPECT_EQ(named->threadID(), std::to_string(namedId));
    EXPECT_EQ(unnamed->threadName(), "");
    EXPECT_FALSE(unnamed->threadID().empty());
    EXPECT_EQ(unnamed->threadID().find_first_not_of("0123456789"), std::string::npos);

    auto queue = dispatch::SerialQueue::create("test.record.queue", dispatch::Qos::Utility);
    DDLogMessagePtr onQueue;
    queue->sync([&] { onQueue = makeRecord(); });
    EXPECT_EQ(onQueue->queueLabel(), "test.record.queue");
    EXPECT_EQ(onQueue->qos(), static_cast<std::uint64_t>(dispatch::Qos::Utility));
}

}  // namespace
