#include "logging/internal/JournalLevels.h"

#include <limits>

#include "logging/DDLogFlags.h"

namespace logging::internal {

OsLogType osLogTypeForFlag(std::uint64_t flag) {
    switch (flag) {
        case LogFlag::Error:
            return OsLogType::Error;
        case LogFlag::Warning:
        case LogFlag::Info:
            return OsLogType::Info;
        default:
            return OsLogType::Debug;
    }
}

int journalPriorityForOsLogType(OsLogType type) {
    switch (type) {
        case OsLogType::Error:
            return 3;
        case OsLogType::Info:
            return 6;
        case OsLogType::Debug:
            break;
    }
    return 7;
}

int systemLogPriorityForFlag(std::uint64_t flag) {
    switch (flag) {
        case LogFlag::Error:
            return 2;
        case LogFlag::Warning:
            return 3;
        case LogFlag::Info:
            return 4;
        default:
            return 5;
    }
}

CapturedLevel capturedLevelForPriority(long long priority) {
    switch (priority) {
        case 0:
        case 1:
        case 2:
            return {LogFlag::Error, true};
        case 3:
            return {LogFlag::Warning, false};
        case 4:
            return {LogFlag::Info, false};
        case 5:
            return {LogFlag::Debug, false};
        default:
            return {LogFlag::Verbose, false};
    }
}

long long parsePriorityText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr long long limit = std::numeric_limits<long long>::max();
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    return negative ? -value : value;
}

}  // namespace logging::internal
