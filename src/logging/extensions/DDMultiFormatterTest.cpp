#include "logging/extensions/DDMultiFormatter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
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

// Wraps the text in brackets and keeps every record it was given.
class Bracketing : public DDLogFormatter {
  public:
    DDText formatLogMessage(const DDLogMessage& message) override {
        std::lock_guard lock(mutex_);
        seen.push_back(std::make_shared<DDLogMessage>(message));
        return std::make_shared<const std::string>("[" + message.message() + "]");
    }
    std::vector<DDLogMessagePtr> seenRecords() {
        std::lock_guard lock(mutex_);
        return seen;
    }

  private:
    std::mutex mutex_;
    std::vector<DDLogMessagePtr> seen;
};

TEST(DDMultiFormatterTest, RunsTheChainUntilAMemberYieldsNothing) {
    DDMultiFormatter multi;
    const DDLogMessagePtr allowed = record(1);
    EXPECT_EQ(multi.formatLogMessage(*allowed), allowed->messageText());  // no members: the same text

    auto filter = std::make_shared<DDContextAllowlistFilterLogFormatter>();
    filter->addToAllowlist(1);
    auto bracketing = std::make_shared<Bracketing>();
    multi.addFormatter(filter);
    multi.addFormatter(bracketing);
    multi.addFormatter(nullptr);
    EXPECT_EQ(*multi.formatLogMessage(*allowed), "[text]");
    EXPECT_EQ(multi.formatLogMessage(*record(2)), nullptr);

    // Only the allowed record reached the second member, as a copy whose text alone is the first member's.
    const auto seen = bracketing->seenRecords();
    ASSERT_EQ(seen.size(), 1u);
    const DDLogMessage& got = *seen[0];
    EXPECT_EQ(got.messageText(), allowed->messageText());  // the filter's output is the same text object
    EXPECT_TRUE(fields(got) == fields(*allowed));
}

TEST(DDMultiFormatterTest, ChangesTheListInOrderOfTheCalls) {
    DDMultiFormatter multi;
    auto bracketing = std::make_shared<Bracketing>();
    auto other = std::make_shared<Bracketing>();
    multi.addFormatter(bracketing);
    EXPECT_TRUE(multi.isFormattingWithFormatter(bracketing));  // the change was queued before the read
    EXPECT_FALSE(multi.isFormattingWithFormatter(other));
    multi.addFormatter(other);
    multi.addFormatter(bracketing);
    EXPECT_EQ(*multi.formatLogMessage(*record(0)), "[[[text]]]");

    const auto before = multi.formatters();
    EXPECT_EQ(before, (std::vector<DDLogFormatterPtr>{bracketing, other, bracketing}));
    multi.removeFormatter(bracketing);  // every occurrence
    EXPECT_EQ(multi.formatters(), std::vector<DDLogFormatterPtr>{other});
    EXPECT_EQ(before.size(), 3u);  // a snapshot does not follow the list
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

    constexpr int kThreads = 4;
    constexpr int kLines = 200;
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
        int written = 0;
        for (const auto& text : texts) {
            if (text == "(nothing)") continue;
            ++written;
            EXPECT_NE(text.find(")] line "), std::string::npos) << text;
        }
        EXPECT_EQ(written, kThreads * kLines / 2);  // context 1 held back, context 0 always written
        EXPECT_EQ(logger->violations(), 0);
    }
}

}  // namespace
