#include "logging/DDLogFileFormatterDefault.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "logging/DDLogFlags.h"

namespace {

using namespace std::chrono;

DDLogMessage messageAt(std::string text, system_clock::time_point when) {
    return DDLogMessage(std::move(text), LogLevel::All, LogFlag::Warning, 7, "file.cpp", "function", 42,
                        nullptr, 0, when);
}

// 2026-12-06 03:26:14.123 UTC
const system_clock::time_point kMoment = system_clock::time_point(seconds(1796527574) + milliseconds(123));

TEST(DDLogFileFormatterDefaultTest, StampTwoSpacesAndTheTextOnlyInUtc) {
    // The machine's time zone must not matter.
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    ::setenv("TZ", "Pacific/Chatham", 1);
    ::tzset();

    DDLogFileFormatterDefault formatter;
    const DDLogMessage started = messageAt("Started", kMoment);
    const DDText line = formatter.formatLogMessage(started);
    EXPECT_EQ(*line, "2026/12/06 03:26:14:123  Started");
    EXPECT_NE(line.get(), started.messageText().get());  // always a new text: custom-formatted

    EXPECT_EQ(*formatter.formatLogMessage(messageAt("", kMoment)), "2026/12/06 03:26:14:123  ");
    EXPECT_EQ(*formatter.formatLogMessage(messageAt("one\ntwo", kMoment)),
              "2026/12/06 03:26:14:123  one\ntwo");
    // Milliseconds are truncated, never rounded up into the next second; the epoch and leap days format
    // right.
    EXPECT_EQ(*formatter.formatLogMessage(
                  messageAt("x", system_clock::time_point(seconds(1709164799) + microseconds(999999)))),
              "2024/02/28 23:59:59:999  x");
    EXPECT_EQ(*formatter.formatLogMessage(messageAt("x", system_clock::time_point(seconds(1709251199)))),
              "2024/02/29 23:59:59:000  x");
    EXPECT_EQ(*formatter.formatLogMessage(messageAt("x", system_clock::time_point())),
              "1970/01/01 00:00:00:000  x");

    if (oldTz) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

TEST(DDLogFileFormatterDefaultTest, GivenDateFormatterIsUsedUnchangedAndShared) {
    auto dates = std::make_shared<const logging::internal::UtcDateFormatter>("yyyy'-'MM'-'dd'T'HH");
    DDLogFileFormatterDefault formatter(dates);
    EXPECT_EQ(formatter.dateFormatter(), dates);
    EXPECT_EQ(*formatter.formatLogMessage(messageAt("m", kMoment)), "2026-12-06T03  m");

    // The file-name pattern round-trips, and anything that does not match it exactly does not parse.
    const logging::internal::UtcDateFormatter names("yyyy'-'MM'-'dd'--'HH'-'mm'-'ss'-'SSS'");
    EXPECT_EQ(names.format(kMoment), "2026-12-06--03-26-14-123");
    EXPECT_EQ(names.parse("2026-12-06--03-26-14-123"), kMoment);
    EXPECT_FALSE(names.parse("2026-12-06--03-26-14-123 2").has_value());
    EXPECT_FALSE(names.parse("2026-02-30--03-26-14-123").has_value());
    EXPECT_FALSE(names.parse("2026-12-06--03-26-14-12").has_value());
    EXPECT_THROW(logging::internal::UtcDateFormatter("yyyy QQ"), std::invalid_argument);

    // Within one second only the fraction changes; formatters used in turn on one thread keep their patterns.
    EXPECT_EQ(names.format(kMoment + milliseconds(800)), "2026-12-06--03-26-14-923");
    EXPECT_EQ(dates->format(kMoment + milliseconds(800)), "2026-12-06T03");
    EXPECT_EQ(names.format(kMoment + milliseconds(877)), "2026-12-06--03-26-15-000");
    EXPECT_EQ(names.format(kMoment - hours(24)), "2026-12-05--03-26-14-123");
}

}  // namespace
