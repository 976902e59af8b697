#pragma once

#include <cstdint>

// Severity flags: a record carries exactly one.
namespace LogFlag {
inline constexpr std::uint64_t Error = 1;
inline constexpr std::uint64_t Warning = 2;
inline constexpr std::uint64_t Info = 4;
inline constexpr std::uint64_t Debug = 8;
inline constexpr std::uint64_t Verbose = 16;
}  // namespace LogFlag

// Level masks: sets of flags, not ordered numbers. A record passes a level when (level & flag) != 0.
namespace LogLevel {
inline constexpr std::uint64_t Off = 0;
inline constexpr std::uint64_t Error = LogFlag::Error;
inline constexpr std::uint64_t Warning = Error | LogFlag::Warning;
inline constexpr std::uint64_t Info = Warning | LogFlag::Info;
inline constexpr std::uint64_t Debug = Info | LogFlag::Debug;
inline constexpr std::uint64_t Verbose = Debug | LogFlag::Verbose;
inline constexpr std::uint64_t All = ~std::uint64_t{0};
}  // namespace LogLevel

// Options for building a record.
namespace LogMessageOptions {
inline constexpr std::int64_t CopyFile = 1;
inline constexpr std::int64_t CopyFunction = 2;
inline constexpr std::int64_t DontCopyMessage = 4;
}  // namespace LogMessageOptions

// The context value meaning "every context" in colour profiles.
inline constexpr std::int64_t LogContextAll = 2147483647;
