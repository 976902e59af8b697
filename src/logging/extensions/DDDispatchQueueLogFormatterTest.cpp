#include "logging/extensions/DDDispatchQueueLogFormatter.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <thread>

#include "dispatch/SerialQueue.h"
#include "logging/DDLogFlags.h"

namespace {

using namespace std::chrono_literals;

// A record made on a fresh thread with that name ("" leaves it unnamed), inside a queue with that label and
// QoS ("" runs no queue).
DDLogMessagePtr recordFrom(const std::string& queueLabel, const std::string& threadName,
                           std::uint32_t qos = 0x15,
                           std::optional<DDLogMessage::Clock::time_point> when = {}) {
    DDLogMessagePtr made;
    std::thread([&] {
        if (!threadName.empty()) pthread_setname_np(pthread_self(), threadName.c_str());
        auto make = [&] {
            made = std::make_shared<DDLogMessage>("hello", LogLevel::All, LogFlag::Info, 0, "f.cpp", "fn", 1,
                                                  nullptr, 0, when);
        };
        if (queueLabel.empty()) {
            make();
        } else {
            dispatch::SerialQueue::create(queueLabel, static_cast<dispatch::Qos>(qos))->sync(make);
        }
    }).join();
    return made;
}

std::string withThreadID(std::string text, const DDLogMessage& record) {
    const auto at = text.find("<tid>");
    if (at != std::string::npos) text.replace(at, 5, record.threadID());
    return text;
}

TEST(DDDispatchQueueLogFormatterTest, ChoosesReplacesAndFitsTheLabel) {
    using Replacements = std::vector<std::pair<std::string, std::optional<std::string>>>;
    struct Case {
        const char* name;
        std::string queueLabel, threadName;
        Replacements replacements;
        std::uint64_t min, max;
        std::string expected;  // "<tid>" stands for the record's thread number
    };
    const std::string main = "com.apple.main-thread", overcommit = "com.apple.root.default-qos.overcommit";
    // The emoji is a surrogate pair in UTF-16, the accented letter one unit.
    const std::string emoji = std::string("ab\xF0\x9F\x98\x80") + "cd", accented = "\xC3\xA9\xF0\x9F\x98\x80";
    // clang-format off
    const Case cases[] = {
        {"main queue", main, "", {}, 0, 0, "main"},
        {"main entry removed", main, "", {{main, {}}}, 0, 0, main},
        {"global, named thread: the name, replaced", overcommit, "worker-a", {{"worker-a", "W"}}, 0, 0, "W"},
        {"global, unnamed: the number stays", "com.apple.root.low-priority", "", {{"<tid>", "X"}}, 0, 0,
         "<tid>"},
        {"no queue, named thread", "", "worker-a", {}, 0, 0, "worker-a"},
        {"own queue beats the thread name", "my.queue", "worker-a", {{"my.queue", "mine"}}, 0, 0, "mine"},
        {"cutting is tested before padding", "abc", "", {}, 10, 5, "abc       "},
        {"longer than max is cut", "abcdefg", "", {}, 10, 5, "abcde"},
        {"exactly max is kept", "abcde", "", {}, 0, 5, "abcde"},
        {"a character is not split", emoji, "", {}, 0, 3, "ab"},
        {"a surrogate pair counts two", emoji, "", {}, 0, 4, emoji.substr(0, 6)},
        {"padding counts UTF-16 units", accented, "", {}, 6, 0, accented + "   "},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DDLogMessagePtr record = recordFrom(c.queueLabel, c.threadName);
        DDDispatchQueueLogFormatter formatter;
        for (const auto& [label, replacement] : c.replacements) {
            formatter.setReplacementString(replacement, withThreadID(label, *record));
        }
        formatter.setMinQueueLength(c.min);
        formatter.setMaxQueueLength(c.max);
        EXPECT_EQ(formatter.queueThreadLabelForLogMessage(*record), withThreadID(c.expected, *record));
    }
}

// Replaces the time zone and the maximum length: the line must pick both up.
class SpecialisedFormatter : public DDDispatchQueueLogFormatter {
  public:
    std::uint64_t maxQueueLength() const override { return 2; }

  protected:
    void configureDateFormatter(DDDateFormatter& dateFormatter) override {
        DDDispatchQueueLogFormatter::configureDateFormatter(dateFormatter);
        dateFormatter.setTimeZone(2h);
    }
};

TEST(DDDispatchQueueLogFormatterTest, FormatsTheLineThroughTheReplaceableOperationsAndNamesQosClasses) {
    // 2024-02-29 01:02:03.004 UTC
    const DDLogMessage::Clock::time_point when{1709168523004ms};
    const DDLogMessagePtr record = recordFrom("my.queue", "", 0x11, when);
    EXPECT_EQ(*SpecialisedFormatter().formatLogMessage(*record),
              "2024-02-29 03:02:03:004 [my (QOS:UT)] hello");

    const std::pair<std::uint64_t, std::string_view> cases[] = {
        {0, "UN"},  {9, "BG"},  {13, "UN"}, {17, "UT"}, {21, "DF"},          {25, "IN"},
        {29, "UN"}, {33, "UI"}, {37, "UN"}, {10, "UN"}, {0x100000015, "DF"},
    };
    for (const auto& [qos, name] : cases) {
        SCOPED_TRACE(qos);
        EXPECT_EQ(DDDispatchQueueLogFormatter::qosName(qos), name);
    }
}

}  // namespace
