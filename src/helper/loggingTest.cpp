#include "helper/logging.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "logging/DDLog.h"
#include "logging/testing/DDTestLogger.h"

namespace {

struct XpcLikeDictionary {
    std::string description() const { return "<dictionary: { \"type\" => \"SelectedText\" }>"; }
};

class LoggingFrontTest : public ::testing::Test {
  protected:
    void SetUp() override {
        logger_ = DDTestLogger::create();
        DDLog::sharedInstance().addLogger(logger_);
    }
    void TearDown() override {
        DDLog::sharedInstance().removeAllLoggers();
        DDLog::sharedInstance().flushLog();
    }
    std::shared_ptr<DDTestLogger> logger_;
};

TEST_F(LoggingFrontTest, RecordsCarryPrefixFlagAndTheFrontsOwnPositionAndErrorsAreWrittenBeforeLogEReturns) {
    auto slow = DDTestLogger::create("slow");
    slow->setDelay(std::chrono::milliseconds(20));
    DDLog::sharedInstance().addLogger(slow);
    const XpcLikeDictionary event;
    LogI("Receive xpc event: %@", event);
    LogW("Got %s and %@ (%d%%)", "text", std::string("object"), 42);
    // A directive-like text in a value is never expanded.
    LogE("%s|%@|%s", "%d", std::make_shared<XpcLikeDictionary>(), "%%");
    // No flush: LogE itself waited for both loggers.
    EXPECT_EQ(slow->count(), 3u);
    EXPECT_EQ(slow->violations(), 0);

    const auto records = logger_->records();
    ASSERT_EQ(records.size(), 3u);
    const char* messages[] = {"[INFO] Receive xpc event: <dictionary: { \"type\" => \"SelectedText\" }>",
                              "[WARN] Got text and object (42%)",
                              "[ERROR] %d|<dictionary: { \"type\" => \"SelectedText\" }>|%%"};
    const std::uint64_t flags[] = {LogFlag::Info, LogFlag::Warning, LogFlag::Error};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i]->message(), messages[i]);
        EXPECT_EQ(records[i]->flag(), flags[i]);
        EXPECT_EQ(records[i]->function(), "void Log" + std::string(1, "IWE"[i]) + "(const char *, ...)");
        EXPECT_EQ(records[i]->fileName(), "logging");
    }
}

}  // namespace
