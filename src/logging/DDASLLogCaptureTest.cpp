// How the capture turns a journal record into a line. Its runs against the real journal: tests/integration.
#include "logging/DDASLLogCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/DDLog.h"
#include "logging/DDLogFlags.h"
#include "logging/internal/FileLoggingTestSupport.h"
#include "logging/testing/DDTestLogger.h"

namespace {

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

// A journal that cannot be opened for reading.
class UnreadableJournal : public logging::internal::Journal {
  public:
    bool send(const std::vector<logging::internal::JournalField>&) override { return true; }
    std::unique_ptr<logging::internal::JournalReader> openReader(pid_t) override {
        ++opened;
        return nullptr;
    }
    std::atomic<int> opened{0};
};

class DDASLLogCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // While the test holds `gate`, the collector's logMessage waits: an asynchronous delivery returns
        // first.
        collector->setOnLog([this](const DDLogMessagePtr&) { std::lock_guard wait(gate); });
        DDLog::sharedInstance().addLogger(collector);
    }
    void TearDown() override {
        DDLog::sharedInstance().removeLogger(collector);
        DDLog::sharedInstance().flushLog();
        DDASLLogCapture::setCaptureLevel(LogLevel::Verbose);
    }

    std::shared_ptr<DDTestLogger> collector = DDTestLogger::create("collector");
    std::mutex gate;
};

TEST_F(DDASLLogCaptureTest, PriorityBecomesFlagErrorsAreDispatchedSynchronouslyAndTheLevelFilters) {
    const std::pair<std::optional<std::string>, std::uint64_t> cases[] = {
        {"2", LogFlag::Error},  {"3", LogFlag::Warning}, {"4", LogFlag::Info},
        {"5", LogFlag::Debug},  {"6", LogFlag::Verbose}, {"-1", LogFlag::Verbose},
        {" 4x", LogFlag::Info}, {"abc", LogFlag::Error}, {std::nullopt, LogFlag::Error}};
    for (const auto& [priority, flag] : cases) {
        SCOPED_TRACE(priority.value_or("<none>"));
        DDLog::sharedInstance().flushLog();
        const std::size_t before = collector->count();
        // Errors are delivered by the time the call returns; others return while the logger is held up.
        std::unique_lock held(gate, std::defer_lock);
        if (flag != LogFlag::Error) held.lock();
        DDASLLogCapture::aslMessageReceived(journalRecord(priority, "p", 100'250'000));
        EXPECT_EQ(collector->count(), flag == LogFlag::Error ? before + 1 : before);
        if (held) held.unlock();
        DDLog::sharedInstance().flushLog();
        ASSERT_EQ(collector->count(), before + 1);
        const auto m = collector->records().back();
        EXPECT_EQ(m->flag(), flag);
        EXPECT_EQ(std::make_tuple(m->level(), std::string(m->file()), m->message(),
                                  m->timestamp().time_since_epoch()),
                  std::make_tuple(LogLevel::Verbose, std::string("DDASLLogCapture"), std::string("p"),
                                  std::chrono::system_clock::duration(100s + 250ms)));
    }
    DDASLLogCapture::aslMessageReceived(journalRecord("1", std::nullopt));  // no text, no message
    // The capture level filters and becomes the record's level.
    DDASLLogCapture::setCaptureLevel(LogLevel::Error);
    DDASLLogCapture::aslMessageReceived(journalRecord("3", "warning is not captured"));
    DDASLLogCapture::aslMessageReceived(journalRecord("2", "error"));
    DDLog::sharedInstance().flushLog();
    ASSERT_EQ(collector->count(), std::size(cases) + 1);
    EXPECT_EQ(collector->records().back()->level(), LogLevel::Error);
}

// Records the loggers wrote (marked) and priorities above 7 are left out; an unreadable journal leaves the
// capture stopped until a later start tries again.
TEST_F(DDASLLogCaptureTest, MarkedRecordsAndPrioritiesAbove7AreLeftOutAndAFailedStartIsRetried) {
    const std::tuple<std::optional<std::string>, std::optional<std::string>, bool> cases[] = {
        {"1", "6", false}, {"0", "6", true}, {std::nullopt, "7", true}, {std::nullopt, "8", false}};
    for (const auto& [marker, priority, taken] : cases) {
        auto record = journalRecord(priority);
        if (marker) record.fields["DDLOG"] = *marker;
        EXPECT_EQ(DDASLLogCapture::configureAslQuery(record), taken)
            << marker.value_or("-") << priority.value_or("-");
    }

    auto journal = std::make_shared<UnreadableJournal>();
    DDASLLogCapture::setJournal(journal);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        DDASLLogCapture::start();
        EXPECT_TRUE(
            eventually([&] { return journal->opened == attempt && !DDASLLogCapture::isCapturing(); }));
    }
    DDASLLogCapture::setJournal(nullptr);
}

}  // namespace
