#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "logging/internal/UtcDateFormatter.h"

// Turns a moment into text with a date pattern ("yyyy-MM-dd HH:mm:ss:SSS" and the like, the letters
// `UtcDateFormatter` understands) in a time zone: the system's current zone unless a fixed offset is set.
// Digits are ASCII and the calendar Gregorian whatever the user's locale.
//
// Who calls it: the dispatch-queue formatter creates and configures one, then formats with it from every
// logger queue it serves. Configure it before sharing it; the const operations may then run on several
// threads at once.
class DDDateFormatter {
  public:
    using Clock = std::chrono::system_clock;

    // An empty pattern (formats as the empty text) in the system's current zone.
    DDDateFormatter();

    // Throws std::invalid_argument for a pattern letter the formatter does not know.
    void setDateFormat(std::string_view pattern);
    const std::string& dateFormat() const { return pattern_.pattern(); }
    // None: the system's current zone, looked up for each moment so that daylight-saving changes apply.
    void setTimeZone(std::optional<std::chrono::seconds> offsetFromUtc) { offset_ = offsetFromUtc; }
    std::optional<std::chrono::seconds> timeZone() const { return offset_; }

    std::string stringFromDate(Clock::time_point date) const;

  private:
    std::chrono::seconds offsetAt(Clock::time_point date) const;

    logging::internal::UtcDateFormatter pattern_;
    std::optional<std::chrono::seconds> offset_;
};
