#include "logging/DDLog.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "logging/testing/DDTestLogger.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

void logLine(bool asynchronous, std::uint64_t flag, const std::string& text) {
    DDLog::sharedInstance().log(asynchronous, LogLevel::Debug, flag, 0, __FILE__, __func__, __LINE__, nullptr,
                                "%@", text);
}

std::vector<std::string> messagesOf(const DDTestLogger& logger) {
    return logger.texts();
}

class DDLogTest : public ::testing::Test {
  protected:
    void TearDown() override {
        DDLog::sharedInstance().removeAllLoggers();
        DDLog::sharedInstance().flushLog();
        DDLog::sharedInstance().setMaximumRecordsInFlight(DDLog::kDefaultMaximumRecordsInFlight);
    }
    DDLog& log_ = DDLog::sharedInstance();
};

TEST_F(DDLogTest, LoggersAreListedInAdditionOrderAndReceiveLinesQueuedAfterAddition) {
    auto a = DDTestLogger::create("a"), b = DDTestLogger::create("b"), c = DDTestLogger::create("c");
    logLine(true, LogFlag::Info, "before");
    log_.addLogger(a);
    log_.addLogger(b, LogLevel::Warning);
    logLine(true, LogFlag::Info, "after");
    log_.addLogger(c);
    log_.addLogger(nullptr);

    const auto all = log_.allLoggers();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], a);
    EXPECT_EQ(all[1], b);
    EXPECT_EQ(all[2], c);
    const auto withLevel = log_.allLoggersWithLevel();
    ASSERT_EQ(withLevel.size(), 3u);
    EXPECT_EQ(withLevel[0].level, LogLevel::All);
    EXPECT_EQ(withLevel[1].level, LogLevel::Warning);

    log_.flushLog();
    EXPECT_EQ(messagesOf(*a), std::vector<std::string>{"after"});
    EXPECT_TRUE(b->texts().empty());
    EXPECT_TRUE(c->texts().empty());
    EXPECT_EQ(a->events(), std::vector<std::string>{"didAdd"});
    EXPECT_EQ(a->records()[0]->queueLabel(), "");  // the caller's snapshot, not the logging queue's
}

TEST_F(DDLogTest, LevelsAreSetsAndEachAdmittingNodeDeliversOnce) {
    auto logger = DDTestLogger::create();
    log_.addLogger(logger, LogLevel::Warning);
    for (std::uint64_t flag : {LogFlag::Error, LogFlag::Warning, LogFlag::Info})
        logLine(true, flag, std::to_string(flag));
    log_.flushLog();
    EXPECT_EQ(messagesOf(*logger), (std::vector<std::string>{"1", "2"}));

    log_.addLogger(logger, LogFlag::Info);
    log_.addLogger(logger, LogFlag::Info);  // same level again: no third node
    EXPECT_EQ(log_.allLoggers().size(), 2u);
    for (std::uint64_t flag : {LogFlag::Error, LogFlag::Warning, LogFlag::Info})
        logLine(true, flag, std::to_string(flag));
    log_.flushLog();
    EXPECT_EQ(messagesOf(*logger), (std::vector<std::string>{"1", "2", "1", "2", "4"}));

    // The record's own level is carried, not compared: a level-7 logger takes a flag-4 record of level 15.
    auto seven = DDTestLogger::create("seven");
    log_.addLogger(seven, LogLevel::Info);
    logLine(false, LogFlag::Info, "x");
    EXPECT_EQ(seven->count(), 1u);
    EXPECT_EQ(seven->records()[0]->level(), 15u);
    EXPECT_EQ(logger->violations() + seven->violations(), 0);
}

TEST_F(DDLogTest, RemovalTakesOnlyTheFirstNodeOfALogger) {
    auto logger = DDTestLogger::create();
    auto other = DDTestLogger::create("other");
    log_.addLogger(logger, LogFlag::Error);
    log_.addLogger(other);
    log_.addLogger(logger, LogFlag::Info);
    log_.removeLogger(logger);
    logLine(true, LogFlag::Error, "error");
    logLine(true, LogFlag::Info, "info");
    log_.removeLogger(DDTestLogger::create("never added"));
    log_.removeLogger(nullptr);
    const auto remaining = log_.allLoggersWithLevel();
    ASSERT_EQ(remaining.size(), 2u);
    EXPECT_EQ(remaining[0].logger, other);
    EXPECT_EQ(remaining[1].level, LogFlag::Info);
    log_.flushLog();
    EXPECT_EQ(messagesOf(*logger), std::vector<std::string>{"info"});
    EXPECT_EQ(messagesOf(*other), (std::vector<std::string>{"error", "info"}));

    log_.removeLogger(logger);
    logLine(true, LogFlag::Info, "gone");
    log_.flushLog();
    // A removed logger is told on its own queue, which flushLog no longer waits for.
    logger->loggerQueue()->sync([] {});
    EXPECT_EQ(logger->count(), 1u);
    EXPECT_EQ(logger->events(), (std::vector<std::string>{"didAdd", "didAdd", "willRemove", "willRemove"}));

    log_.removeAllLoggers();
    log_.flushLog();
    EXPECT_TRUE(log_.allLoggers().empty());
    other->loggerQueue()->sync([] {});
    EXPECT_EQ(other->events(), (std::vector<std::string>{"didAdd", "willRemove"}));
}

TEST_F(DDLogTest, FlushReturnsAfterEveryQueuedLineReachedEveryLogger) {
    auto fast = DDTestLogger::create("fast");
    auto slow = DDTestLogger::create("slow");
    auto third = DDTestLogger::create("third");
    slow->setDelay(20us);
    log_.addLogger(fast);
    log_.addLogger(slow);
    log_.addLogger(third, LogFlag::Warning);
    constexpr int kPerThread = 300;
    std::vector<std::thread> producers;
    for (int t = 0; t < 2; ++t) {
        producers.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i)
                logLine(true, i % 2 == 0 ? LogFlag::Info : LogFlag::Warning,
                        std::to_string(t) + ":" + std::to_string(i));
        });
    }
    for (auto& p : producers) p.join();
    log_.flushLog();
    for (const auto& logger : {fast, slow}) {
        EXPECT_EQ(logger->count(), 2u * kPerThread);
        ASSERT_FALSE(logger->flushes().empty());
        EXPECT_EQ(logger->flushes().back(), 2u * kPerThread);
        EXPECT_EQ(logger->violations(), 0);
    }
    EXPECT_EQ(third->count(), static_cast<std::size_t>(kPerThread));
    // Per producer, lines arrive in the order logged.
    const auto texts = slow->texts();
    int next[2] = {0, 0};
    for (const auto& text : texts) {
        const int t = text[0] - '0';
        EXPECT_EQ(text, std::to_string(t) + ":" + std::to_string(next[t]));
        ++next[t];
    }
}

TEST_F(DDLogTest, SynchronousLinesAreWrittenBeforeTheCallReturns) {
    auto slow = DDTestLogger::create("slow");
    auto other = DDTestLogger::create("other");
    slow->setDelay(5ms);
    log_.addLogger(slow);
    log_.addLogger(other);
    logLine(false, LogFlag::Error, "sync");
    EXPECT_EQ(slow->count(), 1u);
    EXPECT_EQ(other->count(), 1u);

    // From work running on the logging queue the line is delivered in place, without waiting for itself.
    std::promise<std::size_t> delivered;
    DDLog::loggingQueue()->async([&] {
        logLine(false, LogFlag::Error, "from logging queue");
        delivered.set_value(slow->count());
    });
    auto future = delivered.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(future.get(), 2u);

    // A logger that logs synchronously from inside logMessage would wait for itself: the line is queued.
    other->setOnLog([](const DDLogMessagePtr& message) {
        if (message->message() == "trigger") logLine(false, LogFlag::Error, "nested");
    });
    logLine(false, LogFlag::Error, "trigger");
    log_.flushLog();
    EXPECT_EQ(messagesOf(*slow),
              (std::vector<std::string>{"sync", "from logging queue", "trigger", "nested"}));
    EXPECT_EQ(slow->violations() + other->violations(), 0);
}

TEST_F(DDLogTest, RecordsOutliveTheThreadThatMadeThem) {
    // Records go back to the thread that made them to be freed; a thread that has ended can no longer take
    // them, so whoever drops them last must. The sanitizer builds check that nothing leaks or is freed twice.
    auto keeper = DDTestLogger::create("keeper");
    auto dropper = DDTestLogger::create("dropper");
    log_.addLogger(keeper, LogFlag::Warning);
    log_.addLogger(dropper, LogFlag::Info);
    std::thread([] {
        for (int i = 0; i < 200; ++i)
            logLine(true, i % 2 == 0 ? LogFlag::Warning : LogFlag::Info, "t" + std::to_string(i));
    }).join();
    log_.flushLog();
    EXPECT_EQ(keeper->count(), 100u);
    EXPECT_EQ(dropper->count(), 100u);
    const auto kept = keeper->records();
    EXPECT_EQ(kept.front()->message(), "t0");
    EXPECT_EQ(kept.back()->message(), "t198");
    // Texts may outlive their records.
    const DDText text = kept[5]->messageText();
    log_.removeAllLoggers();
    log_.flushLog();
    keeper.reset();
    dropper.reset();
    EXPECT_EQ(*text, "t10");
    // A thread that logs again collects what came back meanwhile.
    auto counter = DDTestLogger::create("counter");
    log_.addLogger(counter);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 100; ++i) logLine(true, LogFlag::Info, "again");
        log_.flushLog();
    }
    EXPECT_EQ(counter->count(), 300u);
}

TEST_F(DDLogTest, ProducersWaitForRoomAndNothingIsLostOrReordered) {
    constexpr std::size_t kBound = 8;
    log_.setMaximumRecordsInFlight(kBound);
    EXPECT_EQ(log_.maximumRecordsInFlight(), kBound);
    auto slow = DDTestLogger::create("slow");
    slow->setDelay(20us);
    log_.addLogger(slow);
    constexpr int kPerThread = 300;
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
    const auto texts = slow->texts();
    ASSERT_EQ(texts.size(), 2u * kPerThread);
    int next[2] = {0, 0};
    for (const auto& text : texts) {
        const int t = text[0] - '0';
        EXPECT_EQ(text, std::to_string(t) + ":" + std::to_string(next[t]));
        ++next[t];
    }
}

TEST_F(DDLogTest, CodeTheDispatcherWaitsForLogsPastAFullBoundWithoutDeadlock) {
    log_.setMaximumRecordsInFlight(2);
    auto slow = DDTestLogger::create("slow");
    slow->setDelay(200us);
    // Inside logMessage, asynchronously and synchronously (which is queued), while the producer keeps the
    // bound full.
    slow->setOnLog([](const DDLogMessagePtr& message) {
        if (message->message() != "trigger") return;
        for (int i = 0; i < 5; ++i) logLine(true, LogFlag::Info, "inner");
        logLine(false, LogFlag::Error, "inner");
    });
    log_.addLogger(slow);
    logLine(true, LogFlag::Info, "trigger");
    // On the logger's queue outside logMessage, and on the logging queue itself.
    slow->loggerQueue()->async([] {
        for (int i = 0; i < 5; ++i) logLine(true, LogFlag::Info, "on logger queue");
    });
    DDLog::loggingQueue()->async([] {
        for (int i = 0; i < 5; ++i) logLine(true, LogFlag::Info, "on logging queue");
    });
    for (int i = 0; i < 20; ++i) logLine(true, LogFlag::Info, "outer");
    log_.flushLog();
    const auto texts = slow->texts();
    for (const auto& [text, expected] : std::vector<std::pair<std::string, long>>{
             {"trigger", 1}, {"inner", 6}, {"on logger queue", 5}, {"on logging queue", 5}, {"outer", 20}}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(std::count(texts.begin(), texts.end(), text), expected);
    }
    EXPECT_EQ(slow->violations(), 0);
}

TEST_F(DDLogTest, FinishedRecordsAreDeliveredUnchangedAndNullFormatsLogNothing) {
    auto logger = DDTestLogger::create();
    log_.addLogger(logger);
    const auto stamp = DDLogMessage::Clock::time_point(std::chrono::seconds(1000));
    auto record = std::make_shared<const DDLogMessage>(std::string("finished"), 1, 1, 3, "f.c", "fn", 9,
                                                       nullptr, 0, stamp);
    log_.log(true, record);
    log_.log(true, LogLevel::All, LogFlag::Info, 0, "f", "g", 1, nullptr, nullptr, 5);
    log_.flushLog();
    ASSERT_EQ(logger->count(), 1u);
    EXPECT_EQ(logger->records()[0], record);
    EXPECT_EQ(logger->records()[0]->timestamp(), stamp);
}

TEST_F(DDLogTest, QueueIdentityAnswersOnlyOnTheRightQueue) {
    auto logger = DDTestLogger::create();
    bool inLogger[2] = {false, true};
    logger->setOnLog([&](const DDLogMessagePtr&) {
        inLogger[0] = logger->isOnInternalLoggerQueue();
        inLogger[1] = logger->isOnGlobalLoggingQueue();
    });
    log_.addLogger(logger);
    logLine(false, LogFlag::Info, "probe");
    EXPECT_TRUE(inLogger[0]);
    EXPECT_FALSE(inLogger[1]);
    EXPECT_FALSE(logger->isOnInternalLoggerQueue());
    EXPECT_FALSE(logger->isOnGlobalLoggingQueue());
    bool onLogging[2] = {false, true};
    DDLog::loggingQueue()->sync([&] {
        onLogging[0] = logger->isOnGlobalLoggingQueue();
        onLogging[1] = logger->isOnInternalLoggerQueue();
    });
    EXPECT_TRUE(onLogging[0]);
    EXPECT_FALSE(onLogging[1]);
    EXPECT_EQ(DDLog::loggingQueue()->label(), "cocoa.vidadudidu");
    EXPECT_GE(DDLog::numProcessors(), 1u);
}

TEST_F(DDLogTest, NamedLevelRegistry) {
    std::uint64_t level = LogLevel::Warning;
    EXPECT_EQ(DDLog::levelForClassWithName("Unknown"), LogLevel::All);
    EXPECT_FALSE(DDLog::isRegisteredClass("Unknown"));
    DDLog::setLevelForClassWithName(LogLevel::Off, "Unknown");
    DDLog::registerClass({"Incomplete", [] { return std::uint64_t{1}; }, nullptr});
    EXPECT_FALSE(DDLog::isRegisteredClass("Incomplete"));
    EXPECT_EQ(DDLog::levelForClassWithName("Incomplete"), LogLevel::All);
    DDLog::registerClass({"Network", [&] { return level; }, [&](std::uint64_t l) { level = l; }});
    EXPECT_TRUE(DDLog::isRegisteredClass("Network"));
    EXPECT_EQ(DDLog::levelForClassWithName("Network"), LogLevel::Warning);
    DDLog::setLevelForClassWithName(LogLevel::Verbose, "Network");
    EXPECT_EQ(level, LogLevel::Verbose);
    const auto names = DDLog::registeredClassNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "Network"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Incomplete"), 0);
}

TEST(DDLogExitTest, LinesQueuedBeforeMainReturnsAreWrittenAtExit) {
    char path[] = "/tmp/ddlog-exit-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    char* argv[] = {const_cast<char*>(LOGGING_EXIT_CHILD), path, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, LOGGING_EXIT_CHILD, nullptr, nullptr, argv, environ), 0);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            FAIL() << "the child did not exit";
        }
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    unlink(path);
    std::string expected;
    for (int i = 0; i < 50; ++i) expected += "line " + std::to_string(i) + "\n";
    EXPECT_EQ(content.str(), expected);
}

}  // namespace
