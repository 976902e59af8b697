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
#include <vector>

#include "logging/DDLog.h"
#include "logging/DDLogFlags.h"
#include "logging/internal/FileLoggingTestSupport.h"
#include "logging/testing/DDTestLogger.h"
#include "logging/testing/JournalFake.h"

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
    const std::pair<std::optional<std::string>, std::uint64_t> cases[] = {
        {"0", LogFlag::Error},         {"1", LogFlag::Error},   {"2", LogFlag::Error},
        {"3", LogFlag::Warning},       {"4", LogFlag::Info},    {"5", LogFlag::Debug},
        {"6", LogFlag::Verbose},       {"7", LogFlag::Verbose}, {"-1", LogFlag::Verbose},
        {"12", LogFlag::Verbose},      {" 4x", LogFlag::Info},  {"abc", LogFlag::Error},
        {std::nullopt, LogFlag::Error}};
    for (const auto& [priority, flag] : cases) {
        SCOPED_TRACE(priority.value_or("<none>"));
        DDLog::sharedInstance().flushLog();
        const std::size_t before = collector->count();
        // Errors are delivered by the time the call returns; others return while the logger is held up.
        hold(flag != LogFlag::Error);
        DDASLLogCapture::aslMessageReceived(journalRecord(priority, "p"));
        EXPECT_EQ(collector->count(), flag == LogFlag::Error ? before + 1 : before);
        hold(false);
        DDLog::sharedInstance().flushLog();
        ASSERT_EQ(collector->count(), before + 1);
        const auto m = collector->records().back();
        EXPECT_EQ(m->flag(), flag);
        EXPECT_EQ(
            std::make_tuple(m->level(), std::string(m->file()), std::string(m->fileName()),
                            std::string(m->function()), m->line(), m->context(), m->message()),
            std::make_tuple(LogLevel::Verbose, std::string("DDASLLogCapture"), std::string("DDASLLogCapture"),
                            std::string(), std::uint64_t{0}, std::int64_t{0}, std::string("p")));
    }
    DDASLLogCapture::aslMessageReceived(journalRecord("1", std::nullopt));  // no text, no message
    DDLog::sharedInstance().flushLog();
    EXPECT_EQ(collector->count(), std::size(cases));
}

TEST_F(DDASLLogCaptureTest, CaptureLevelFiltersAndBecomesTheRecordLevelAndTheTimeIsTheRecords) {
    DDASLLogCapture::setCaptureLevel(LogLevel::Error);
    DDASLLogCapture::aslMessageReceived(journalRecord("4", "info is not captured"));
    DDASLLogCapture::aslMessageReceived(journalRecord("3", "warning is not captured"));
    DDASLLogCapture::aslMessageReceived(journalRecord("2", "dated", 100'250'000));
    const auto before = std::chrono::system_clock::now();
    DDASLLogCapture::aslMessageReceived(journalRecord("1", "undated"));
    const auto after = std::chrono::system_clock::now();
    EXPECT_EQ(texts(), (std::vector<std::string>{"dated", "undated"}));
    const auto records = collector->records();
    EXPECT_EQ(records[0]->level(), LogLevel::Error);
    EXPECT_EQ(records[0]->timestamp().time_since_epoch(), 100s + 250ms);
    EXPECT_GE(records[1]->timestamp(), before);
    EXPECT_LE(records[1]->timestamp(), after);
}

TEST_F(DDASLLogCaptureTest, FixedConditionsLeaveOutMarkedRecordsAndPrioritiesAbove7) {
    const std::tuple<std::optional<std::string>, std::optional<std::string>, bool> cases[] = {
        {"1", "6", false},         {"0", "6", true},           {std::nullopt, "6", true},
        {std::nullopt, "7", true}, {std::nullopt, "8", false}, {std::nullopt, std::nullopt, true}};
    for (const auto& [marker, priority, taken] : cases) {
        auto record = journalRecord(priority);
        if (marker) record.fields["DDLOG"] = *marker;
        EXPECT_EQ(DDASLLogCapture::configureAslQuery(record), taken)
            << marker.value_or("-") << priority.value_or("-");
    }
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
    ASSERT_TRUE(collector->waitForCount(2));
    appendOwn("three");
    ASSERT_TRUE(collector->waitForCount(3));
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

// A journal that cannot be opened leaves the capture stopped until a later start; a start before the run
// ended keeps that run.
TEST_F(DDASLLogCaptureTest, StartRetriesAnUnopenedJournalAndStartAgainBeforeTheRunEndedKeepsOneRun) {
    journal->setRefuseReaders(true);
    DDASLLogCapture::start();
    ASSERT_TRUE(eventually([&] { return !DDASLLogCapture::isCapturing(); }));
    journal->setRefuseReaders(false);
    DDASLLogCapture::start();
    ASSERT_TRUE(eventually([&] { return journal->readersOpen() == 1; }));
    DDASLLogCapture::stop();
    DDASLLogCapture::start();
    appendOwn("once");
    ASSERT_TRUE(collector->waitForCount(1));
    appendOwn("twice");
    ASSERT_TRUE(collector->waitForCount(2));
    EXPECT_EQ(texts(), (std::vector<std::string>{"once", "twice"}));
    EXPECT_EQ(journal->readersOpened(), 2);
}

}  // namespace
