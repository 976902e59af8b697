// The two journal loggers (the journal logger and the system-log logger) against an in-process journal: the
// records that are never written, the default log, and the handle. Their records' fields are checked against
// the real journal (tests/integration).

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "logging/DDASLLogger.h"
#include "logging/DDLogFlags.h"
#include "logging/DDOSLogger.h"
#include "logging/testing/DDTestLogger.h"
#include "logging/testing/JournalFake.h"

namespace {

using logging::internal::fieldValue;
using logging::internal::JournalFake;

DDLogMessagePtr record(std::uint64_t flag, std::string text = "text", const char* file = "src/Thing.cpp") {
    return std::make_shared<const DDLogMessage>(std::move(text), LogLevel::All, flag, 0, file, "doThing", 42,
                                                nullptr, 0, std::nullopt);
}

std::vector<std::string> messages(const JournalFake& journal) {
    std::vector<std::string> out;
    for (const auto& fields : journal.sent()) out.push_back(fieldValue(fields, "MESSAGE"));
    return out;
}

class Rejecting : public DDLogFormatter {
  public:
    DDText formatLogMessage(const DDLogMessage& message) override {
        if (message.message() == "reject") return nullptr;
        return std::make_shared<const std::string>("> " + message.message());
    }
};

using Make = std::function<std::shared_ptr<DDAbstractLogger>(std::shared_ptr<JournalFake>)>;
const std::pair<const char*, Make> kKinds[] = {
    {"journal logger",
     [](std::shared_ptr<JournalFake> j) { return DDOSLogger::create("cocoa.example", "tandrel", j); }},
    {"system-log logger", [](std::shared_ptr<JournalFake> j) { return DDASLLogger::create(j); }},
};

// Records the capture took from the journal are never written back (a bare name or a path ending in it);
// text the formatter rejects is not written; a journal that refuses a record loses that one only.
TEST(JournalLoggersTest, SkipsCapturedAndRejectedRecordsAndSurvivesARefusal) {
    for (const auto& [name, make] : kKinds) {
        SCOPED_TRACE(name);
        auto journal = std::make_shared<JournalFake>();
        auto logger = make(journal);
        deliver(*logger, record(LogFlag::Error, "captured", "DDASLLogCapture"));
        deliver(*logger, record(LogFlag::Error, "captured", "/some/where/DDASLLogCapture.m"));
        logger->setLogFormatter(std::make_shared<Rejecting>());
        ASSERT_NE(logger->logFormatter(), nullptr);  // waits until the change has been applied
        deliver(*logger, record(LogFlag::Info, "reject"));
        deliver(*logger, record(LogFlag::Info, "keep"));
        deliver(*logger, record(LogFlag::Info, "again", "DDASLLogCapture"));
        journal->setRefuseSends(true);
        deliver(*logger, record(LogFlag::Info, "lost"));
        journal->setRefuseSends(false);
        deliver(*logger, record(LogFlag::Info, "after"));
        EXPECT_EQ(messages(*journal), (std::vector<std::string>{"> keep", "> after"}));
    }
}

TEST(JournalLoggersTest, OneSharedSystemLogLoggerAndJournalLoggersWithoutBothNamesUseTheDefaultLog) {
    EXPECT_EQ(DDASLLogger::sharedInstance(), DDASLLogger::sharedInstance());
    EXPECT_EQ(DDASLLogger::create(), nullptr);  // a second system-log logger is refused

    auto journal = std::make_shared<JournalFake>();
    for (auto logger : {DDOSLogger::create("cocoa.example", std::nullopt, journal),
                        DDOSLogger::create(std::nullopt, "tandrel", journal),
                        DDOSLogger::create(std::nullopt, std::nullopt, journal)}) {
        EXPECT_TRUE(logger->logger()->isDefaultLog());
        deliver(*logger, record(LogFlag::Info));
    }
    for (const auto& fields : journal->sent()) {
        EXPECT_EQ(fieldValue(fields, "SUBSYSTEM"), "<absent>");
        EXPECT_EQ(fieldValue(fields, "CATEGORY"), "<absent>");
    }
    EXPECT_EQ(messages(*journal).size(), 3u);
    EXPECT_FALSE(DDOSLogger::sharedInstance()->subsystem() || DDOSLogger::sharedInstance()->category());
}

TEST(JournalLoggersTest, HandleIsKeptAndItsPriorityCeilingDecidesWhatIsWritten) {
    auto journal = std::make_shared<JournalFake>();
    auto logger = DDOSLogger::create("s", "c", journal);
    auto handle = logger->logger();
    EXPECT_EQ(handle, logger->logger());

    handle->setPriorityCeiling(6);  // debug off
    deliver(*logger, record(LogFlag::Debug, "debug"));
    deliver(*logger, record(LogFlag::Warning, "warning"));
    handle->setPriorityCeiling(3);  // only errors
    deliver(*logger, record(LogFlag::Info, "info"));
    deliver(*logger, record(LogFlag::Error, "error"));
    EXPECT_EQ(messages(*journal), (std::vector<std::string>{"warning", "error"}));

    // A replaced handle is used from then on; a cleared one is rebuilt with every type enabled.
    auto other = std::make_shared<DDOSLogger::LogHandle>(journal, "other", "cat");
    logger->setLogger(other);
    EXPECT_EQ(logger->logger(), other);
    deliver(*logger, record(LogFlag::Debug, "to other"));
    logger->setLogger(nullptr);
    auto rebuilt = logger->logger();
    EXPECT_NE(rebuilt, other);
    EXPECT_NE(rebuilt, handle);
    EXPECT_EQ(rebuilt->priorityCeiling(), 7);
    ASSERT_EQ(journal->sent().size(), 3u);
    EXPECT_EQ(fieldValue(journal->sent()[2], "SUBSYSTEM"), "other");
}

}  // namespace
