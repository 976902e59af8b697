#include "logging/DDASLLogCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/DDLog.h"
#include "logging/DDLogFlags.h"
#include "logging/internal/FileLoggingTestSupport.h"
#include "logging/internal/JournalFake.h"
#include "logging/testing/DDTestLogger.h"

namespace {

using logging::internal::JournalFake;
using logging::internal::JournalRecord;
using logging::internal::testing::eventually;
using namespace std::chrono_literals;

JournalRecord journalRecord(std::optional<std::string> priority, std::optional<std::string> message = "text",
                            std::optional<std::int64_t> realtimeUsec = std::nullopt) {
    JournalRecord record;
    if (priority) record.fields["PRIORITY"] = *priority;
    if (message) record.fields["MESSAGE"] = *message;
    record.realtimeUsec = realtimeUsec;
    return record;
}

std::int64_t nowUsec() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class DDASLLogCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // While `held`, the collector's logMessage waits: an asynchronous delivery returns before it ends.
        collector->setOnLog([this](const DDLogMessagePtr&) {
            std::unique_lock lock(gate_);
            opened_.wait(lock, [&] { return !held_; });
        });
        DDLog::sharedInstance().addLogger(collector);
        DDASLLogCapture::setJournal(journal);
    }
    void hold(bool held) {
        std::lock_guard lock(gate_);
        held_ = held;
        opened_.notify_all();
    }
    std::vector<std::string> texts() {
        DDLog::sharedInstance().flushLog();
        return collector->texts();
    }
    void TearDown() override {
        hold(false);
        DDASLLogCapture::stop();
        // A run still watching ends at its next notification.
        if (journal->readersOpen() > 0) {
            journal->append(getpid(), nowUsec(), journalRecord("6", std::nullopt));
            EXPECT_TRUE(eventually([&] { return journal->readersOpen() == 0; }));
        }
        DDLog::sharedInstance().removeLogger(collector);
        DDLog::sharedInstance().flushLog();
        DDASLLogCapture::setJournal(nullptr);
        DDASLLogCapture::setCaptureLevel(LogLevel::Verbose);
    }
    void appendOwn(const std::string& text, const std::string& priority = "6") {
        journal->append(getpid(), nowUsec(), journalRecord(priority, text));
    }

    std::shared_ptr<DDTestLogger> collector = DDTestLogger::create("collector");
    std::mutex gate_;
    std::condition_variable opened_;
    bool held_ = false;
    std::shared_ptr<JournalFake> journal = std::make_shared<JournalFake>();
};

TEST_F(DDASLLogCaptureTest, PriorityBecomesFlagAndErrorsAreDispatchedSynchronously) {
    struct Case {
        std::optional<std::string> priority;
        std::uint64_t flag;
    };
    const std::vector<Case> cases = {
        {"0", LogFlag::Error},         {"1", LogFlag::Error},   {"2", LogFlag::Error},
        {"3", LogFlag::Warning},       {"4", LogFlag::Info},    {"5", LogFlag::Debug},
        {"6", LogFlag::Verbose},       {"7", LogFlag::Verbose}, {"-1", LogFlag::Verbose},
        {"12", LogFlag::Verbose},      {" 4x", LogFlag::Info},  {"abc", LogFlag::Error},
        {std::nullopt, LogFlag::Error}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.priority.value_or("<none>"));
        DDLog::sharedInstance().flushLog();
        std::size_t before = collector->records().size();
        if (c.flag == LogFlag::Error) {
            // Synchronous: delivered by the time the call returns.
            DDASLLogCapture::aslMessageReceived(journalRecord(c.priority, "p"));
            ASSERT_EQ(collector->records().size(), before + 1);
        } else {
            // Asynchronous: returns while the logger is still held up.
            hold(true);
            DDASLLogCapture::aslMessageReceived(journalRecord(c.priority, "p"));
            hold(false);
            DDLog::sharedInstance().flushLog();
            ASSERT_EQ(collector->records().size(), before + 1);
        }
        const auto message = collector->records().back();
        EXPECT_EQ(message->flag(), c.flag);
        EXPECT_EQ(message->level(), LogLevel::Verbose);
        EXPECT_EQ(message->fileName(), "DDASLLogCapture");
        EXPECT_EQ(message->file(), "DDASLLogCapture");
        EXPECT_EQ(message->function(), "");
        EXPECT_EQ(message->line(), 0u);
        EXPECT_EQ(message->context(), 0);
        EXPECT_EQ(message->message(), "p");
    }

    // No text, no message.
    DDASLLogCapture::aslMessageReceived(journalRecord("1", std::nullopt));
    DDLog::sharedInstance().flushLog();
    EXPECT_EQ(collector->records().size(), cases.size());
}

TEST_F(DDASLLogCaptureTest, CaptureLevelFiltersAndBecomesTheRecordLevel) {
    DDASLLogCapture::setCaptureLevel(LogLevel::Error);
    EXPECT_EQ(DDASLLogCapture::captureLevel(), LogLevel::Error);
    DDASLLogCapture::aslMessageReceived(journalRecord("4", "info is not captured"));
    DDASLLogCapture::aslMessageReceived(journalRecord("3", "warning is not captured"));
    DDASLLogCapture::aslMessageReceived(journalRecord("2", "critical is"));
    DDLog::sharedInstance().flushLog();
    auto messages = collector->records();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]->message(), "critical is");
    EXPECT_EQ(messages[0]->level(), LogLevel::Error);
}

TEST_F(DDASLLogCaptureTest, TimestampIsTheRecordTimeOrNow) {
    DDASLLogCapture::aslMessageReceived(journalRecord("1", "dated", 100'250'000));
    auto before = std::chrono::system_clock::now();
    DDASLLogCapture::aslMessageReceived(journalRecord("1", "undated"));
    auto after = std::chrono::system_clock::now();
    auto messages = collector->records();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0]->timestamp().time_since_epoch(), 100s + 250ms);
    EXPECT_GE(messages[1]->timestamp(), before);
    EXPECT_LE(messages[1]->timestamp(), after);
}

TEST_F(DDASLLogCaptureTest, FixedConditionsLeaveOutMarkedRecordsAndPrioritiesAbove7) {
    auto marked = [](std::optional<std::string> value, std::optional<std::string> priority = "6") {
        auto record = journalRecord(std::move(priority));
        if (value) record.fields["DDLOG"] = *value;
        return record;
    };
    EXPECT_FALSE(DDASLLogCapture::configureAslQuery(marked("1")));
    EXPECT_TRUE(DDASLLogCapture::configureAslQuery(marked("0")));
    EXPECT_TRUE(DDASLLogCapture::configureAslQuery(marked(std::nullopt)));
    EXPECT_TRUE(DDASLLogCapture::configureAslQuery(marked(std::nullopt, "7")));
    EXPECT_FALSE(DDASLLogCapture::configureAslQuery(marked(std::nullopt, "8")));
    EXPECT_TRUE(DDASLLogCapture::configureAslQuery(marked(std::nullopt, std::nullopt)));
}

TEST_F(DDASLLogCaptureTest, RunTakesOwnRecordsOnceInOrderAndEndsAfterStop) {
    // Received before the run's start second: left out of the first search.
    journal->append(getpid(), nowUsec() - 5'000'000, journalRecord("6", "too old"));
    DDASLLogCapture::start();
    EXPECT_TRUE(DDASLLogCapture::isCapturing());
    DDASLLogCapture::start();  // changes nothing
    ASSERT_TRUE(eventually([&] { return journal->readersOpen() == 1; }));

    appendOwn("one");
    journal->append(getpid() + 1, nowUsec(), journalRecord("6", "another process"));
    auto markedRecord = journalRecord("6", "written by the logger");
    markedRecord.fields["DDLOG"] = "1";
    journal->append(getpid(), nowUsec(), markedRecord);
    appendOwn("two", "3");
    ASSERT_TRUE(eventually([&] { return collector->records().size() >= 2; }));
    appendOwn("three");
    ASSERT_TRUE(eventually([&] { return collector->records().size() >= 3; }));
    EXPECT_EQ(texts(), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(collector->records()[1]->flag(), LogFlag::Warning);

    // After stop, the next notification is handled in full, then the watch ends. That notification may be a
    // late one for "three" (the descriptor can report it twice) or the one for "four": either way nothing
    // after it is taken.
    DDASLLogCapture::stop();
    EXPECT_FALSE(DDASLLogCapture::isCapturing());
    appendOwn("four");
    ASSERT_TRUE(eventually([&] { return journal->readersOpen() == 0; }));
    appendOwn("five");
    const std::vector<std::string> upToThree{"one", "two", "three"};
    const std::vector<std::string> upToFour{"one", "two", "three", "four"};
    EXPECT_THAT(texts(), testing::AnyOf(upToThree, upToFour));
    EXPECT_EQ(journal->readersOpened(), 1);
}

TEST_F(DDASLLogCaptureTest, ConcurrentWritersNeverGetLinesDuplicatedOrReordered) {
    DDASLLogCapture::start();
    ASSERT_TRUE(eventually([&] { return journal->readersOpen() == 1; }));
    constexpr int kThreads = 4;
    constexpr int kPerThread = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) appendOwn(std::to_string(t) + ":" + std::to_string(i));
        });
    }
    for (auto& w : writers) w.join();
    ASSERT_TRUE(eventually([&] { return collector->records().size() >= kThreads * kPerThread; }));
    const auto lines = texts();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kPerThread));
    // Each writer's lines arrive once each and in its order.
    std::vector<int> next(kThreads, 0);
    for (const auto& text : lines) {
        int t = std::stoi(text.substr(0, text.find(':')));
        int i = std::stoi(text.substr(text.find(':') + 1));
        ASSERT_EQ(i, next[t]) << text;
        ++next[t];
    }
}

TEST_F(DDASLLogCaptureTest, StartAgainBeforeTheRunEndedKeepsOneRun) {
    DDASLLogCapture::start();
    ASSERT_TRUE(eventually([&] { return journal->readersOpen() == 1; }));
    DDASLLogCapture::stop();
    DDASLLogCapture::start();
    appendOwn("once");
    ASSERT_TRUE(eventually([&] { return !collector->records().empty(); }));
    appendOwn("twice");
    ASSERT_TRUE(eventually([&] { return collector->records().size() >= 2; }));
    EXPECT_EQ(texts(), (std::vector<std::string>{"once", "twice"}));
    EXPECT_EQ(journal->readersOpened(), 1);
}

TEST_F(DDASLLogCaptureTest, JournalThatCannotBeOpenedLeavesTheCaptureStopped) {
    journal->setRefuseReaders(true);
    DDASLLogCapture::start();
    ASSERT_TRUE(eventually([&] { return !DDASLLogCapture::isCapturing(); }));
    journal->setRefuseReaders(false);
    DDASLLogCapture::start();  // a later start tries again
    ASSERT_TRUE(eventually([&] { return journal->readersOpen() == 1; }));
    EXPECT_EQ(journal->readersOpened(), 2);
}

}  // namespace
