#include "logging/DDAbstractLogger.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "logging/DDLog.h"
#include "logging/testing/DDTestLogger.h"

namespace {

std::mutex notesMutex;
std::vector<std::string> notes;  // every formatter's notifications, in order

// Prefixes its name, and notes every notification with whether it ran on the logger's queue.
class RecordingFormatter : public DDLogFormatter {
  public:
    explicit RecordingFormatter(std::string name) : name_(std::move(name)) {}
    DDText formatLogMessage(const DDLogMessage& message) override {
        return std::make_shared<const std::string>(name_ + ":" + message.message());
    }
    void didAddToLogger(const std::shared_ptr<DDLogger>& logger,
                        const std::shared_ptr<dispatch::SerialQueue>& queue) override {
        note(queue == logger->loggerQueue() ? "didAddInQueue" : "didAddInQueue(wrong queue)", logger);
    }
    void willRemoveFromLogger(const std::shared_ptr<DDLogger>& logger) override {
        note("willRemove", logger);
    }

  private:
    void note(const std::string& what, const std::shared_ptr<DDLogger>& logger) {
        auto* abstract = dynamic_cast<DDAbstractLogger*>(logger.get());
        const bool onQueue = abstract != nullptr && abstract->isOnInternalLoggerQueue();
        std::lock_guard lock(notesMutex);
        notes.push_back(name_ + "." + what + (onQueue ? "" : "(off queue)"));
    }
    std::string name_;
};

class DDAbstractLoggerTest : public ::testing::Test {
  protected:
    void TearDown() override {
        DDLog::sharedInstance().removeAllLoggers();
        DDLog::sharedInstance().flushLog();
    }
    void logInfo(const char* text) {
        DDLog::sharedInstance().log(true, LogLevel::Debug, LogFlag::Info, 0, __FILE__, __func__, __LINE__,
                                    nullptr, "%s", text);
    }
};

TEST_F(DDAbstractLoggerTest, FormatterChangesApplyInLogOrderWithOrderedNotifications) {
    auto logger = DDTestLogger::create();
    auto a = std::make_shared<RecordingFormatter>("A"), b = std::make_shared<RecordingFormatter>("B");
    DDLog::sharedInstance().addLogger(logger);
    logInfo("one");
    logger->setLogFormatter(a);
    logInfo("two");
    logger->setLogFormatter(a);  // the same formatter again: no notification
    logger->setLogFormatter(b);
    EXPECT_EQ(logger->logFormatter(), b);  // a read right after a change sees it
    logInfo("three");
    logger->setLogFormatter(nullptr);
    logInfo("four");
    DDLog::sharedInstance().flushLog();
    EXPECT_EQ(logger->texts(), (std::vector<std::string>{"one", "A:two", "B:three", "four"}));
    std::lock_guard lock(notesMutex);
    EXPECT_EQ(notes, (std::vector<std::string>{"A.didAddInQueue", "A.willRemove", "B.didAddInQueue",
                                               "B.willRemove"}));
}

}  // namespace
