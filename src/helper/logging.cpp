#include "helper/logging.h"

#include <string>

#include "logging/DDLog.h"
#include "logging/DDLogFlags.h"

std::uint64_t ddLogLevel = LogLevel::Debug;

namespace helper::internal {

namespace {

struct FrontTraits {
    const char* prefix;
    std::uint64_t flag;
    bool asynchronous;
    const char* function;
    std::uint64_t line;
};

// Indexed by Front. Function texts and lines are the ones every record of the service carries.
constexpr FrontTraits kFronts[] = {
    {"[INFO] ", LogFlag::Info, true, "void LogI(const char *, ...)", 43},
    {"[WARN] ", LogFlag::Warning, true, "void LogW(const char *, ...)", 54},
    {"[ERROR] ", LogFlag::Error, false, "void LogE(const char *, ...)", 65},
};

}  // namespace

void logFront(Front front, const char* format, std::span<const logging::internal::FormatArg> args) {
    if (format == nullptr) return;
    const FrontTraits& traits = kFronts[static_cast<int>(front)];
    const std::uint64_t level = ddLogLevel;
    if ((level & traits.flag) == 0) return;
    // The prefix formats ("[INFO] %s" with the caller's format in place of "%s") contain no other directive,
    // so formatting the caller's format after the literal prefix gives the same text without building the
    // prefixed format first.
    std::string message(traits.prefix);
    DDStringFormat::appendArgs(message, format, args);
    DDLog::sharedInstance().log(traits.asynchronous, std::move(message), level, traits.flag, 0, __FILE__,
                                traits.function, traits.line, nullptr);
}

}  // namespace helper::internal
