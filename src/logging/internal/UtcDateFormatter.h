#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace logging::internal {

// Formats and parses moments in UTC with a fixed pattern in the Unicode date-pattern syntax, limited to what
// log file names and file lines need: yyyy (year), MM, dd, HH (24-hour), mm, ss, S… (fraction of a second,
// one digit per letter), quoted literal text ('--', '' for a quote) and unquoted punctuation. Digits are
// ASCII and the calendar Gregorian whatever the machine's locale and time zone.
//
// Immutable after construction, so one formatter may be shared by several queues at once. Formatting does no
// system call and no locale lookup; it is on the write path of every file line, so each thread keeps the
// text of the latest second it formatted and writes only the fraction digits within that second.
class UtcDateFormatter {
  public:
    using Clock = std::chrono::system_clock;

    // Throws std::invalid_argument for a pattern letter outside the subset above.
    explicit UtcDateFormatter(std::string_view pattern);

    const std::string& pattern() const { return pattern_; }
    std::string format(Clock::time_point moment) const;
    // Appends the formatted moment to `out` (no temporary string on the write path).
    void appendTo(std::string& out, Clock::time_point moment) const;
    // The moment when `text` matches the pattern exactly (every field present and in range), otherwise none.
    std::optional<Clock::time_point> parse(std::string_view text) const;

  private:
    enum class Field { Literal, Year, Month, Day, Hour, Minute, Second, Fraction };
    struct Token {
        Field field;
        int width;            // digits for numeric fields
        std::string literal;  // for Literal
    };
    // Appends everything but the fractions of a second, which are written as zeros and listed in `fractions`
    // (offset in `out`, width).
    void appendSecond(std::string& out, std::int64_t seconds,
                      std::vector<std::pair<std::size_t, int>>* fractions) const;

    std::string pattern_;
    std::vector<Token> tokens_;
    // Unique per formatter for the process's life: names it in per-thread caches, where an address could be
    // reused by a later formatter.
    std::uint64_t id_;
};

}  // namespace logging::internal
