#include "logging/DDOSLogger.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "logging/DDLogFlags.h"
#include "logging/DDLoggerNames.h"
#include "logging/internal/JournalFake.h"

namespace {

using logging::internal::fieldValue;
using logging::internal::JournalFake;
using logging::internal::OsLogType;

DDLogMessagePtr record(std::uint64_t flag, std::string text = "text", const char* file = "src/Thing.cpp") {
    return std::make_shared<const DDLogMessage>(std::move(text), LogLevel::All, flag, 0, file, "doThing", 42,
                                                nullptr, 0, std::nullopt);
}

// Calls the logger the way the dispatcher does: on its own queue.
void write(const std::shared_ptr<DDOSLogger>& logger, const DDLogMessagePtr& message) {
    logger->loggerQueue()->sync([&] { logger->logMessage(message); });
}

class UpperCase : public DDLogFormatter {
  public:
    DDText formatLogMessage(const DDLogMessage& message) override {
        if (message.message() == "reject") return nullptr;
        std::string text = message.message();
        for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return std::make_shared<const std::string>(text);
    }
};

TEST(DDOSLoggerTest, WritesOneRecordPerMessageWithPriorityFromTheFlag) {
    auto journal = std::make_shared<JournalFake>();
    auto logger = DDOSLogger::create("cocoa.example", "tandrel", journal);
    const std::vector<std::pair<std::uint64_t, std::string>> cases = {
        {LogFlag::Error, "3"},
        {LogFlag::Warning, "6"},
        {LogFlag::Info, "6"},
        {LogFlag::Debug, "7"},
        {LogFlag::Verbose, "7"},
        {LogFlag::Error | LogFlag::Warning, "7"},
        {0, "7"}};
    for (const auto& [flag, priority] : cases) write(logger, record(flag, "flag " + std::to_string(flag)));

    auto sent = journal->sent();
    ASSERT_EQ(sent.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].first);
        EXPECT_EQ(fieldValue(sent[i], "MESSAGE"), "flag " + std::to_string(cases[i].first));
        EXPECT_EQ(fieldValue(sent[i], "PRIORITY"), cases[i].second);
        EXPECT_EQ(fieldValue(sent[i], "SUBSYSTEM"), "cocoa.example");
        EXPECT_EQ(fieldValue(sent[i], "CATEGORY"), "tandrel");
        EXPECT_EQ(fieldValue(sent[i], "CODE_FILE"), "src/Thing.cpp");
        EXPECT_EQ(fieldValue(sent[i], "CODE_LINE"), "42");
        EXPECT_EQ(fieldValue(sent[i], "CODE_FUNC"), "doThing");
        EXPECT_EQ(fieldValue(sent[i], "DDLOG"), "1");
    }
}

TEST(DDOSLoggerTest, EitherNameMissingWritesToTheDefaultLog) {
    auto journal = std::make_shared<JournalFake>();
    for (auto logger : {DDOSLogger::create("cocoa.example", std::nullopt, journal),
                        DDOSLogger::create(std::nullopt, "tandrel", journal),
                        DDOSLogger::create(std::nullopt, std::nullopt, journal)}) {
        EXPECT_TRUE(logger->logger()->isDefaultLog());
        write(logger, record(LogFlag::Info));
    }
    auto sent = journal->sent();
    ASSERT_EQ(sent.size(), 3u);
    for (const auto& fields : sent) {
        EXPECT_EQ(fieldValue(fields, "SUBSYSTEM"), "<absent>");
        EXPECT_EQ(fieldValue(fields, "CATEGORY"), "<absent>");
        EXPECT_EQ(fieldValue(fields, "MESSAGE"), "text");
    }

    EXPECT_EQ(DDOSLogger::sharedInstance(), DDOSLogger::sharedInstance());
    EXPECT_FALSE(DDOSLogger::sharedInstance()->subsystem() || DDOSLogger::sharedInstance()->category());
}

TEST(DDOSLoggerTest, SkipsCapturedMessagesAndMessagesTheFormatterRejects) {
    auto journal = std::make_shared<JournalFake>();
    auto logger = DDOSLogger::create("s", "c", journal);
    write(logger, record(LogFlag::Error, "captured", "DDASLLogCapture"));
    write(logger, record(LogFlag::Error, "captured", "/some/where/DDASLLogCapture.m"));
    EXPECT_TRUE(journal->sent().empty());

    logger->setLogFormatter(std::make_shared<UpperCase>());
    ASSERT_NE(logger->logFormatter(), nullptr);  // waits until the change has been applied
    write(logger, record(LogFlag::Info, "reject"));
    write(logger, record(LogFlag::Info, "shout"));
    write(logger, record(LogFlag::Info, "again", "DDASLLogCapture"));
    auto sent = journal->sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(fieldValue(sent[0], "MESSAGE"), "SHOUT");
}

TEST(DDOSLoggerTest, HandleIsKeptAndItsPriorityCeilingDecidesWhatIsWritten) {
    auto journal = std::make_shared<JournalFake>();
    auto logger = DDOSLogger::create("s", "c", journal);
    auto handle = logger->logger();
    EXPECT_EQ(handle, logger->logger());
    EXPECT_NE(logger->getLogger(), handle);  // a fresh one, not kept
    EXPECT_TRUE(handle->isTypeEnabled(OsLogType::Error));
    EXPECT_TRUE(handle->isTypeEnabled(OsLogType::Info));
    EXPECT_TRUE(handle->isTypeEnabled(OsLogType::Debug));

    handle->setPriorityCeiling(6);  // debug off
    write(logger, record(LogFlag::Debug, "debug"));
    write(logger, record(LogFlag::Warning, "warning"));
    handle->setPriorityCeiling(3);  // only errors
    write(logger, record(LogFlag::Info, "info"));
    write(logger, record(LogFlag::Error, "error"));
    auto sent = journal->sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(fieldValue(sent[0], "MESSAGE"), "warning");
    EXPECT_EQ(fieldValue(sent[1], "MESSAGE"), "error");

    // A replaced handle is used from then on; a cleared one is rebuilt with every type enabled.
    auto other = std::make_shared<DDOSLogger::LogHandle>(journal, "other", "cat");
    logger->setLogger(other);
    EXPECT_EQ(logger->logger(), other);
    write(logger, record(LogFlag::Debug, "to other"));
    logger->setLogger(nullptr);
    auto rebuilt = logger->logger();
    EXPECT_NE(rebuilt, other);
    EXPECT_NE(rebuilt, handle);
    EXPECT_EQ(rebuilt->priorityCeiling(), 7);
    sent = journal->sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(fieldValue(sent[2], "SUBSYSTEM"), "other");
}

}  // namespace
