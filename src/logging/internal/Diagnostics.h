#pragma once

#include <string>
#include <string_view>

// Diagnostics of the logging subsystem itself (a file that cannot be written, a directory that cannot be
// made). They never go through the dispatcher, so that logging never logs into itself: each is one line on
// standard error, "<local time> <process name>[<pid>] <text>", written with a single write(2) so that lines
// from several threads do not interleave. Callable from any thread and any queue; never blocks on a queue.
namespace logging::internal {

void ddDiagnostic(std::string_view text);

// The process name (the program's file name without directory), "" when unknown. Computed once.
const std::string& processName();

// "<strerror text> (errno <n>)": the description used for system errors in diagnostics.
std::string errnoDescription(int err);

}  // namespace logging::internal
