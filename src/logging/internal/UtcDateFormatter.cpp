#include "logging/internal/UtcDateFormatter.h"

#include <atomic>
#include <cstdint>
#include <stdexcept>

namespace logging::internal {

namespace {

// Days since 1970-01-01 to a proleptic Gregorian date and back (H. Hinnant's civil algorithms).
struct Civil {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

Civil civilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

unsigned daysInMonth(std::int64_t y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

void appendDigits(std::string& out, std::int64_t value, int width) {
    if (value < 0) {
        out.push_back('-');
        value = -value;
    }
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && n < 24);
    for (int pad = n; pad < width; ++pad) out.push_back('0');
    while (n > 0) out.push_back(digits[--n]);
}

std::uint64_t nextId() {
    static std::atomic<std::uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

UtcDateFormatter::UtcDateFormatter(std::string_view pattern) : pattern_(pattern), id_(nextId()) {
    size_t i = 0;
    auto addLiteral = [this](std::string_view text) {
        if (!tokens_.empty() && tokens_.back().field == Field::Literal) {
            tokens_.back().literal.append(text);
        } else {
            tokens_.push_back({Field::Literal, 0, std::string(text)});
        }
    };
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '\'') {
            if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                addLiteral("'");
                i += 2;
                continue;
            }
            // An unterminated quote quotes the rest of the pattern, as date formatters treat it.
            size_t end = pattern.find('\'', i + 1);
            if (end == std::string_view::npos) end = pattern.size();
            addLiteral(pattern.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter) {
            addLiteral(pattern.substr(i, 1));
            ++i;
            continue;
        }
        size_t run = i;
        while (run < pattern.size() && pattern[run] == c) ++run;
        const int width = static_cast<int>(run - i);
        Field field;
        switch (c) {
            case 'y':
                field = Field::Year;
                break;
            case 'M':
                field = Field::Month;
                break;
            case 'd':
                field = Field::Day;
                break;
            case 'H':
                field = Field::Hour;
                break;
            case 'm':
                field = Field::Minute;
                break;
            case 's':
                field = Field::Second;
                break;
            case 'S':
                field = Field::Fraction;
                break;
            default:
                throw std::invalid_argument(std::string("unsupported date pattern letter '") + c + "'");
        }
        tokens_.push_back({field, width, {}});
        i = run;
    }
}

std::string UtcDateFormatter::format(Clock::time_point moment) const {
    std::string out;
    out.reserve(32);
    appendTo(out, moment);
    return out;
}

void UtcDateFormatter::appendTo(std::string& out, Clock::time_point moment) const {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<nanoseconds>(moment.time_since_epoch()).count();
    std::int64_t seconds = sinceEpoch / 1'000'000'000;
    std::int64_t nanos = sinceEpoch % 1'000'000'000;
    if (nanos < 0) {
        nanos += 1'000'000'000;
        --seconds;
    }
    // Everything but the fraction changes once a second: the text of the current second is kept per thread
    // (the formatter itself is shared by several queues), and only the fraction digits are written per call.
    // Fractions have a fixed width, so they always sit at the same offsets.
    struct SecondText {
        std::uint64_t formatter = 0;
        std::int64_t seconds = 0;
        std::string text;
        std::vector<std::pair<std::size_t, int>> fractions;  // offset in text, width
    };
    thread_local SecondText cached;
    if (cached.formatter != id_ || cached.seconds != seconds) {
        cached.formatter = id_;
        cached.seconds = seconds;
        cached.text.clear();
        cached.fractions.clear();
        appendSecond(cached.text, seconds, &cached.fractions);
    }
    const std::size_t start = out.size();
    out.append(cached.text);
    for (const auto& [offset, width] : cached.fractions) {
        // Truncated to the pattern's number of digits, as date formatters do.
        std::int64_t scaled = nanos;
        for (int digits = 9; digits > width; --digits) scaled /= 10;
        for (std::size_t i = static_cast<std::size_t>(width); i-- > 0;) {
            out[start + offset + i] = static_cast<char>('0' + scaled % 10);
            scaled /= 10;
        }
    }
}

void UtcDateFormatter::appendSecond(std::string& out, std::int64_t seconds,
                                    std::vector<std::pair<std::size_t, int>>* fractions) const {
    std::int64_t days = seconds / 86400;
    std::int64_t secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    const Civil date = civilFromDays(days);
    for (const Token& token : tokens_) {
        switch (token.field) {
            case Field::Literal:
                out.append(token.literal);
                break;
            case Field::Year:
                appendDigits(out, date.year, token.width == 2 ? 2 : token.width);
                break;
            case Field::Month:
                appendDigits(out, date.month, token.width);
                break;
            case Field::Day:
                appendDigits(out, date.day, token.width);
                break;
            case Field::Hour:
                appendDigits(out, secondOfDay / 3600, token.width);
                break;
            case Field::Minute:
                appendDigits(out, secondOfDay / 60 % 60, token.width);
                break;
            case Field::Second:
                appendDigits(out, secondOfDay % 60, token.width);
                break;
            case Field::Fraction:
                fractions->emplace_back(out.size(), token.width);
                out.append(static_cast<std::size_t>(token.width), '0');
                break;
        }
    }
}

std::optional<UtcDateFormatter::Clock::time_point> UtcDateFormatter::parse(std::string_view text) const {
    std::int64_t year = 1970;
    std::int64_t month = 1, day = 1, hour = 0, minute = 0, second = 0, nanos = 0;
    size_t pos = 0;
    for (const Token& token : tokens_) {
        if (token.field == Field::Literal) {
            if (text.substr(pos, token.literal.size()) != token.literal) return std::nullopt;
            pos += token.literal.size();
            continue;
        }
        const auto width = static_cast<size_t>(token.width);
        if (pos + width > text.size()) return std::nullopt;
        std::int64_t value = 0;
        for (size_t k = 0; k < width; ++k) {
            const char c = text[pos + k];
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        pos += width;
        switch (token.field) {
            case Field::Year:
                year = value;
                break;
            case Field::Month:
                month = value;
                break;
            case Field::Day:
                day = value;
                break;
            case Field::Hour:
                hour = value;
                break;
            case Field::Minute:
                minute = value;
                break;
            case Field::Second:
                second = value;
                break;
            case Field::Fraction:
                nanos = value;
                for (int digits = token.width; digits < 9; ++digits) nanos *= 10;
                break;
            case Field::Literal:
                break;
        }
    }
    if (pos != text.size()) return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, static_cast<unsigned>(month)) ||
        hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(seconds) +
                                                                         std::chrono::nanoseconds(nanos)));
}

}  // namespace logging::internal
