#pragma once

#include <cstdint>
#include <string_view>

// The level tables between log flags and journal priorities (syslog priorities 0 emergency .. 7 debug), for
// the OS logger, the system-log logger and the capture. Pure functions, callable anywhere.

// The marker field every journal record of the logging subsystem carries, so that the capture never reads
// the subsystem's own output back.
inline constexpr const char* kDDASLKeyDDLog = "DDLOG";
inline constexpr const char* kDDASLDDLogValue = "1";

namespace logging::internal {

// The record types of the OS logger, with their conventional values.
enum class OsLogType : std::uint8_t { Info = 0x01, Debug = 0x02, Error = 0x10 };

// error → Error; warning and info → Info; anything else (debug, verbose, several bits) → Debug. The flag is
// compared as a whole value.
OsLogType osLogTypeForFlag(std::uint64_t flag);
// Error 3, Info 6, Debug 7.
int journalPriorityForOsLogType(OsLogType type);

// The system-log logger: error → 2 (critical), warning → 3 (error), info → 4 (warning), any other value → 5
// (notice). 6 and 7 are never written.
int systemLogPriorityForFlag(std::uint64_t flag);

// The capture: a priority read back becomes a flag and a dispatch mode.
struct CapturedLevel {
    std::uint64_t flag;
    bool synchronous;
};
// 0-2 → error, synchronous; 3 → warning; 4 → info; 5 → debug; anything else → verbose (all asynchronous).
CapturedLevel capturedLevelForPriority(long long priority);

// A priority field's text as a number, the way C's atoi reads it: leading blanks, an optional sign, then the
// digits up to the first other character; no digits give 0, values out of range saturate.
long long parsePriorityText(std::string_view text);

}  // namespace logging::internal
