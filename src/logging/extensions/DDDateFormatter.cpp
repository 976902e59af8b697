#include "logging/extensions/DDDateFormatter.h"

#include <time.h>

DDDateFormatter::DDDateFormatter() : pattern_("") {}

void DDDateFormatter::setDateFormat(std::string_view pattern) {
    pattern_ = logging::internal::UtcDateFormatter(pattern);
}

std::string DDDateFormatter::stringFromDate(Clock::time_point date) const {
    // The wall-clock time of a zone is the UTC rendering of the moment shifted by the zone's offset.
    return pattern_.format(date + offsetAt(date));
}

std::chrono::seconds DDDateFormatter::offsetAt(Clock::time_point date) const {
    if (offset_) return *offset_;
    const time_t seconds = Clock::to_time_t(std::chrono::floor<std::chrono::seconds>(date));
    tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return std::chrono::seconds(0);
    return std::chrono::seconds(local.tm_gmtoff);
}
