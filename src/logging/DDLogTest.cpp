#include "logging/DDLog.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "logging/internal/FileLoggingTestSupport.h"
#include "logging/testing/DDTestLogger.h"

namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

void logLine(bool asynchronous, std::uint64_t flag, const std::string& text) {
    DDLog::sharedInstance().log(asynchronous, LogLevel::Debug, flag, 0, __FILE__, __func__, __LINE__, nullptr,
                                "%@", text);
}

class DDLogTest : public ::testing::Test {
  protected:
    void TearDown() override {
        log_.removeAllLoggers();
        log_.flushLog();
        log_.setMaximumRecordsInFlight(DDLog::kDefaultMaximumRecordsInFlight);
    }
    DDLog& log_ = DDLog::sharedInstance();
};

TEST_F(DDLogTest, RegistrationLevelsAndRemovalDecideWhoGetsEachLine) {
    auto a = DDTestLogger::create("a"), b = DDTestLogger::create("b"), c = DDTestLogger::create("c");
    logLine(true, LogFlag::Info, "before");
    log_.addLogger(a);
    log_.addLogger(b, LogLevel::Warning);
    log_.addLogger(a, LogFlag::Info);  // a second node of the same logger
    log_.addLogger(a, LogFlag::Info);  // same level again: no third node
    log_.addLogger(nullptr);
    for (std::uint64_t flag : {LogFlag::Error, LogFlag::Warning, LogFlag::Info})
        logLine(true, flag, std::to_string(flag));
    log_.addLogger(c, LogLevel::Info);
    logLine(false, LogFlag::Info, "x");  // a level-7 logger takes a flag-4 record, whose own level is carried

    EXPECT_EQ(log_.allLoggers(), (std::vector<DDLoggerPtr>{a, b, a, c}));
    log_.flushLog();
    ASSERT_EQ(a->texts(), (Texts{"1", "2", "4", "4", "x", "x"}));
    EXPECT_EQ(b->texts(), (Texts{"1", "2"}));
    ASSERT_EQ(c->texts(), Texts{"x"});
    EXPECT_EQ(c->records()[0]->level(), 15u);
    EXPECT_EQ(a->records()[0]->queueLabel(), "");  // the caller's snapshot, not the logging queue's

    // Removal takes only the first node of a logger; unknown and null loggers change nothing.
    log_.removeLogger(a);
    log_.removeLogger(DDTestLogger::create("never added"));
    log_.removeLogger(nullptr);
    EXPECT_EQ(log_.allLoggers(), (std::vector<DDLoggerPtr>{b, a, c}));
    logLine(true, LogFlag::Error, "error");
    logLine(true, LogFlag::Info, "info");
    log_.removeLogger(a);
    logLine(true, LogFlag::Info, "gone");
    // A finished record is delivered unchanged; a call without a format delivers nothing.
    auto record = std::make_shared<const DDLogMessage>(std::string("finished"), LogLevel::Info, LogFlag::Info,
                                                       3, "f.c", "fn", 9, nullptr, 0, std::nullopt);
    log_.log(true, record);
    log_.log(true, LogLevel::All, LogFlag::Info, 0, "f", "g", 1, nullptr, nullptr, 5);
    log_.removeAllLoggers();
    log_.flushLog();
    EXPECT_TRUE(log_.allLoggers().empty());
    for (const auto& logger : {a, b, c}) logger->loggerQueue()->sync([] {});  // told on their own queues
    EXPECT_EQ(a->texts().back(), "info");
    EXPECT_EQ(b->texts().back(), "error");
    EXPECT_EQ(c->texts(), (Texts{"x", "error", "info", "gone", "finished"}));
    EXPECT_EQ(c->records().back(), record);
    EXPECT_EQ(a->events(), (Texts{"didAdd", "didAdd", "willRemove", "willRemove"}));
    EXPECT_EQ(b->events(), (Texts{"didAdd", "willRemove"}));
    EXPECT_EQ(a->violations() + b->violations() + c->violations(), 0);
}

// Two producers against a small bound on records in flight and a slow logger: producers wait for room, and
// the flush returns only once every queued line reached every logger, nothing lost or reordered. The
// loggers drop the records only after the producers have ended: the sanitizer builds check that records
// going back to a thread that is gone are freed once, by whoever drops them last.
TEST_F(DDLogTest, FlushWaitsForEveryLineAndTheBoundHoldsProducersBack) {
    constexpr std::size_t kBound = 8;
    constexpr int kPerThread = 300;
    log_.setMaximumRecordsInFlight(kBound);
    auto fast = DDTestLogger::create("fast"), slow = DDTestLogger::create("slow");
    slow->setDelay(20us);
    log_.addLogger(fast);
    log_.addLogger(slow);
    std::atomic<std::size_t> mostInFlight{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < 2; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                logLine(true, LogFlag::Info, std::to_string(t) + ":" + std::to_string(i));
                std::size_t seen = log_.recordsInFlight(), most = mostInFlight.load();
                while (seen > most && !mostInFlight.compare_exchange_weak(most, seen)) {
                }
            }
        });
    }
    for (auto& p : producers) p.join();
    log_.flushLog();
    EXPECT_LE(mostInFlight.load(), kBound);
    EXPECT_EQ(log_.recordsInFlight(), 0u);
    for (const auto& logger : {fast, slow}) {
        SCOPED_TRACE(logger->loggerName());
        ASSERT_FALSE(logger->flushes().empty());
        EXPECT_EQ(logger->flushes().back(), 2u * kPerThread);
        // Each producer's lines arrive once each, in the order it logged them.
        std::vector<int> next(2, 0);
        for (const auto& text : logger->texts()) {
            const int t = text[0] - '0';
            ASSERT_EQ(text, std::to_string(t) + ":" + std::to_string(next[t]++));
        }
        EXPECT_EQ(next, std::vector<int>(2, kPerThread));
        EXPECT_EQ(logger->violations(), 0);
    }
}

// Synchronous lines are written before the call returns. Code the dispatcher itself waits for may log too,
// past a full bound, without deadlock: on the logging queue a synchronous line is delivered in place; inside
// logMessage (where it would wait for itself) it is queued, as are lines from the queues.
TEST_F(DDLogTest, SynchronousLinesAndLinesFromTheDispatchersOwnQueuesNeverDeadlock) {
    log_.setMaximumRecordsInFlight(2);
    auto slow = DDTestLogger::create("slow"), other = DDTestLogger::create("other");
    slow->setDelay(1ms);
    other->setOnLog([](const DDLogMessagePtr& message) {
        if (message->message() != "trigger") return;
        for (int i = 0; i < 5; ++i) logLine(true, LogFlag::Info, "inner");
        logLine(false, LogFlag::Error, "nested");
    });
    log_.addLogger(slow);
    log_.addLogger(other);
    logLine(false, LogFlag::Error, "sync");
    EXPECT_EQ(slow->count() + other->count(), 2u);
    std::promise<std::size_t> delivered;
    DDLog::loggingQueue()->async([&] {
        logLine(false, LogFlag::Error, "from logging queue");
        delivered.set_value(slow->count());
    });
    auto future = delivered.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(future.get(), 2u);

    logLine(true, LogFlag::Info, "trigger");
    slow->loggerQueue()->async([] {
        for (int i = 0; i < 5; ++i) logLine(true, LogFlag::Info, "on logger queue");
    });
    DDLog::loggingQueue()->async([] {
        for (int i = 0; i < 5; ++i) logLine(true, LogFlag::Info, "on logging queue");
    });
    for (int i = 0; i < 20; ++i) logLine(true, LogFlag::Info, "outer");
    log_.flushLog();
    const auto texts = slow->texts();
    for (const auto& [text, expected] : std::vector<std::pair<std::string, long>>{{"trigger", 1},
                                                                                  {"inner", 5},
                                                                                  {"nested", 1},
                                                                                  {"on logger queue", 5},
                                                                                  {"on logging queue", 5},
                                                                                  {"outer", 20}}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(std::count(texts.begin(), texts.end(), text), expected);
    }
    EXPECT_EQ(slow->violations() + other->violations(), 0);
}

TEST(DDLogExitTest, LinesQueuedBeforeMainReturnsAreWrittenAtExit) {
    logging::internal::testing::TempDir dir;
    const std::string path = dir.file("out");
    const int status = std::system(("timeout 30 " LOGGING_EXIT_CHILD " " + path).c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);  // 124: the child did not exit
    std::string expected;
    for (int i = 0; i < 50; ++i) expected += "line " + std::to_string(i) + "\n";
    EXPECT_EQ(logging::internal::testing::readFile(path), expected);
}

}  // namespace
