#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "logging/DDStringFormat.h"

// The logging front of the service: every line of the service's own code goes through `LogI`, `LogW` or
// `LogE`. Each takes a printf-style format (see DDStringFormat.h: "%@" takes any value with a textual
// description) and its values, puts the severity prefix "[INFO] ", "[WARN] " or "[ERROR] " in front, and
// hands the line to the dispatcher with the level mask `ddLogLevel`, context 0, no tag, and this front's own
// file, function text and line, so every record of the service carries the file name "logging".
//
// Any thread may call them. `LogI` and `LogW` return once the record is queued; `LogE` returns only after
// every logger has written it, so it blocks: never call `LogE` from inside a logger or a formatter. A call
// whose level is off costs one comparison and reads no argument.

// The process-wide level mask; Debug (15). Read without synchronisation: write it only before logging starts.
extern std::uint64_t ddLogLevel;

namespace helper::internal {

enum class Front { Info, Warning, Error };

// Checks the flag against `ddLogLevel`, builds the prefixed line and hands it to the dispatcher.
void logFront(Front front, const char* format, std::span<const logging::internal::FormatArg> args);

template <typename... Args>
void logFrontWith(Front front, const char* format, const Args&... args) {
    const std::array<logging::internal::FormatArg, sizeof...(Args)> argv{logging::internal::makeArg(args)...};
    logFront(front, format, argv);
}

}  // namespace helper::internal

template <typename... Args>
inline void LogI(const char* format, const Args&... args) {
    if (ddLogLevel < 7) return;
    helper::internal::logFrontWith(helper::internal::Front::Info, format, args...);
}

template <typename... Args>
inline void LogW(const char* format, const Args&... args) {
    if (ddLogLevel < 3) return;
    helper::internal::logFrontWith(helper::internal::Front::Warning, format, args...);
}

template <typename... Args>
inline void LogE(const char* format, const Args&... args) {
    if (ddLogLevel == 0) return;
    helper::internal::logFrontWith(helper::internal::Front::Error, format, args...);
}
