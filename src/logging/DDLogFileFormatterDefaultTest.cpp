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

// The machine's time zone must not matter; milliseconds are truncated, never rounded up into the next second.
TEST(DDLogFileFormatterDefaultTest, StampTwoSpacesAndTheTextInUtc) {
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    ::setenv("TZ", "Pacific/Chatham", 1);
    ::tzset();
    DDLogFileFormatterDefault formatter;
    const DDLogMessage started = messageAt("Started", kMoment);
    const DDText line = formatter.formatLogMessage(started);
    EXPECT_EQ(*line, "2026/12/06 03:26:14:123  Started");
    EXPECT_NE(line.get(), started.messageText().get());  // always a new text: custom-formatted
    EXPECT_EQ(*formatter.formatLogMessage(
                  messageAt("x", system_clock::time_point(seconds(1709164799) + microseconds(999999)))),
              "2024/02/28 23:59:59:999  x");
    oldTz ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();

    // A given date formatter is used; the file-name pattern round-trips and a date that does not exist does
    // not parse.
    auto dates = std::make_shared<const logging::internal::UtcDateFormatter>("yyyy'-'MM'-'dd'T'HH");
    EXPECT_EQ(*DDLogFileFormatterDefault(dates).formatLogMessage(messageAt("m", kMoment)),
              "2026-12-06T03  m");
    const logging::internal::UtcDateFormatter names("yyyy'-'MM'-'dd'--'HH'-'mm'-'ss'-'SSS'");
    EXPECT_EQ(names.parse(names.format(kMoment)), kMoment);
    EXPECT_FALSE(names.parse("2026-12-06--03-26-14-123 2").has_value());
    EXPECT_FALSE(names.parse("2026-02-30--03-26-14-123").has_value());
    EXPECT_THROW(logging::internal::UtcDateFormatter("yyyy QQ"), std::invalid_argument);
    // Formatters used in turn on one thread keep their patterns, and a new second is seen.
    EXPECT_EQ(dates->format(kMoment + milliseconds(800)), "2026-12-06T03");
    EXPECT_EQ(names.format(kMoment + milliseconds(877)), "2026-12-06--03-26-15-000");
}

}  // namespace
