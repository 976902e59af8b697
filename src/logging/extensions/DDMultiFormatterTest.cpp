#include "logging/extensions/DDMultiFormatter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "logging/DDLog.h"
#include "logging/extensions/DDContextAllowlistFilterLogFormatter.h"
#include "logging/extensions/DDContextDenylistFilterLogFormatter.h"
#include "logging/extensions/DDDispatchQueueLogFormatter.h"
#include "logging/testing/DDTestLogger.h"

namespace {

DDLogMessagePtr record(std::int64_t context, std::string text = "text") {
    return std::make_shared<DDLogMessage>(std::move(text), LogLevel::Debug, LogFlag::Warning, context,
                                          "dir/f.cpp", "fn", 42, std::make_shared<int>(1), 0, std::nullopt);
}

// Every field but the text.
auto fields(const DDLogMessage& m) {
    return std::make_tuple(m.level(), m.flag(), m.context(), std::string(m.file()), std::string(m.fileName()),
                           std::string(m.function()), m.line(), m.representedObject(), m.options(),
                           m.timestamp(), m.threadID(), m.threadName(), m.queueLabel(), m.qos());
}

// Wraps the text in brackets and keeps a copy of every record it was given (one thread only).
class Bracketing : public DDLogFormatter {
  public:
    DDText formatLogMessage(const DDLogMessage& message) override {
        seen.push_back(std::make_shared<DDLogMessage>(message));
        return std::make_shared<const std::string>("[" + message.message() + "]");
    }
    std::vector<DDLogMessagePtr> seen;
};

TEST(DDMultiFormatterTest, RunsItsMembersInOrderUntilOneYieldsNothing) {
    DDMultiFormatter multi;
    const DDLogMessagePtr allowed = record(1);
    EXPECT_EQ(multi.formatLogMessage(*allowed), allowed->messageText());  // no members: the same text

    auto filter = std::make_shared<DDContextAllowlistFilterLogFormatter>();
    filter->addToAllowlist(1);
    auto bracketing = std::make_shared<Bracketing>(), other = std::make_shared<Bracketing>();
    for (const DDLogFormatterPtr& member :
         {DDLogFormatterPtr(filter), DDLogFormatterPtr(bracketing), DDLogFormatterPtr(nullptr),
          DDLogFormatterPtr(other), DDLogFormatterPtr(bracketing)})
        multi.addFormatter(member);
    EXPECT_EQ(*multi.formatLogMessage(*allowed), "[[[text]]]");
    EXPECT_EQ(multi.formatLogMessage(*record(2)), nullptr);

    // Only the allowed record went on, each member getting a copy whose text alone is the one before's.
    const auto& seen = bracketing->seen;
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0]->messageText(), allowed->messageText());  // the filter's output is the same text object
    EXPECT_EQ(seen[1]->message(), "[[text]]");
    EXPECT_TRUE(fields(*seen[1]) == fields(*allowed));

    multi.removeFormatter(bracketing);  // every occurrence
    EXPECT_EQ(multi.formatters(), (std::vector<DDLogFormatterPtr>{filter, other}));
    multi.removeAllFormatters();
    EXPECT_TRUE(multi.formatters().empty());
}

// One chain (a denylist filter and the queue formatter) serves three loggers registered with the real
// dispatcher, which calls them in parallel, while another thread keeps reconfiguring every part of it.
TEST(DDMultiFormatterTest, OneChainServesSeveralLoggersWhileBeingChanged) {
    auto deny = std::make_shared<DDContextDenylistFilterLogFormatter>();
    deny->addToDenylist(1);
    auto queueFormatter = std::make_shared<DDDispatchQueueLogFormatter>();
    auto multi = std::make_shared<DDMultiFormatter>();
    multi->addFormatter(deny);
    multi->addFormatter(queueFormatter);

    std::vector<std::shared_ptr<DDTestLogger>> loggers;
    for (int i = 0; i < 3; ++i) {
        loggers.push_back(DDTestLogger::create("formatter.logger." + std::to_string(i)));
        loggers.back()->setLogFormatter(multi);
        DDLog::sharedInstance().addLogger(loggers.back());
    }

    constexpr int kThreads = 4, kLines = 200;
    std::atomic<bool> done{false};
    std::thread configurer([&] {
        auto passThrough = std::make_shared<DDContextDenylistFilterLogFormatter>();
        for (std::uint64_t round = 0; !done.load(); ++round) {
            queueFormatter->setReplacementString(round % 2 ? std::optional<std::string>("w") : std::nullopt,
                                                 "fmt.worker");
            queueFormatter->setMinQueueLength(round % 20);
            queueFormatter->setMaxQueueLength(round % 7);
            round % 2 ? deny->addToDenylist(2) : deny->removeFromDenylist(2);
            round % 2 ? multi->addFormatter(passThrough) : multi->removeFormatter(passThrough);
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([] {
            pthread_setname_np(pthread_self(), "fmt.worker");
            for (int i = 0; i < kLines; ++i) {
                DDLog::sharedInstance().log(true, "line " + std::to_string(i), LogLevel::All, LogFlag::Info,
                                            i % 2, __FILE__, __func__, __LINE__, nullptr);
            }
        });
    }
    for (auto& writer : writers) writer.join();
    DDLog::sharedInstance().flushLog();
    done = true;
    configurer.join();

    for (const auto& logger : loggers) {
        DDLog::sharedInstance().removeLogger(logger);
        SCOPED_TRACE(logger->loggerName());
        const auto texts = logger->texts();
        ASSERT_EQ(texts.size(), static_cast<std::size_t>(kThreads * kLines));
        // Context 1 held back, context 0 always written.
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "(nothing)"), kThreads * kLines / 2);
        for (const auto& text : texts) {
            EXPECT_TRUE(text == "(nothing)" || text.find(")] line ") != std::string::npos) << text;
        }
        EXPECT_EQ(logger->violations(), 0);
    }
}

}  // namespace
