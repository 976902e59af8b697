#include "logging/DDASLLogger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "logging/DDLogFlags.h"
#include "logging/internal/JournalFake.h"

namespace {

using logging::internal::fieldValue;
using logging::internal::JournalFake;

DDLogMessagePtr record(std::uint64_t flag, std::string text = "text", const char* file = "src/Thing.cpp") {
    return std::make_shared<const DDLogMessage>(std::move(text), LogLevel::All, flag, 0, file, "doThing", 7,
                                                nullptr, 0, std::nullopt);
}

void write(const std::shared_ptr<DDASLLogger>& logger, const DDLogMessagePtr& message) {
    logger->loggerQueue()->sync([&] { logger->logMessage(message); });
}

class Rejecting : public DDLogFormatter {
  public:
    DDText formatLogMessage(const DDLogMessage& message) override {
        return message.message() == "reject" ? nullptr
                                             : std::make_shared<const std::string>("> " + message.message());
    }
};

TEST(DDASLLoggerTest, RecordCarriesPriorityMessageReaderAndMarker) {
    auto journal = std::make_shared<JournalFake>();
    auto logger = DDASLLogger::create(journal);
    const std::vector<std::pair<std::uint64_t, std::string>> cases = {
        {LogFlag::Error, "2"},
        {LogFlag::Warning, "3"},
        {LogFlag::Info, "4"},
        {LogFlag::Debug, "5"},
        {LogFlag::Verbose, "5"},
        {LogFlag::Error | LogFlag::Warning, "5"},
        {0, "5"}};
    for (const auto& [flag, priority] : cases) write(logger, record(flag, "line\nwith a break"));

    auto sent = journal->sent();
    ASSERT_EQ(sent.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].first);
        ASSERT_EQ(sent[i].size(), 4u);
        EXPECT_EQ(sent[i][0], (std::pair<std::string, std::string>("PRIORITY", cases[i].second)));
        EXPECT_EQ(sent[i][1].first, "MESSAGE");
        EXPECT_EQ(sent[i][1].second, "line\nwith a break");
        EXPECT_EQ(sent[i][2].first, "READ_UID");
        EXPECT_EQ(sent[i][2].second, std::to_string(geteuid()));
        EXPECT_EQ(sent[i][3], (std::pair<std::string, std::string>("DDLOG", "1")));
    }
}

TEST(DDASLLoggerTest, SkipsCapturedMessagesAndRejectedText) {
    auto journal = std::make_shared<JournalFake>();
    auto logger = DDASLLogger::create(journal);
    write(logger, record(LogFlag::Error, "captured", "DDASLLogCapture"));
    EXPECT_TRUE(journal->sent().empty());

    logger->setLogFormatter(std::make_shared<Rejecting>());
    ASSERT_NE(logger->logFormatter(), nullptr);
    write(logger, record(LogFlag::Info, "reject"));
    write(logger, record(LogFlag::Info, "keep"));
    auto sent = journal->sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(fieldValue(sent[0], "MESSAGE"), "> keep");

    // A journal that refuses the record loses that one message and nothing else.
    journal->setRefuseSends(true);
    write(logger, record(LogFlag::Info, "lost"));
    journal->setRefuseSends(false);
    write(logger, record(LogFlag::Info, "after"));
    sent = journal->sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(fieldValue(sent[1], "MESSAGE"), "> after");
}

TEST(DDASLLoggerTest, OneSharedInstanceNamedForTheSystemLog) {
    auto shared = DDASLLogger::sharedInstance();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared, DDASLLogger::sharedInstance());
    EXPECT_EQ(DDASLLogger::create(), nullptr);  // a second system-log logger is refused
    EXPECT_NE(DDASLLogger::create(std::make_shared<JournalFake>()), nullptr);
}

}  // namespace
