#pragma once

#include <memory>
#include <string>

namespace logging::internal {

// The facts a record takes from the thread that logs, read once per thread and then shared by every record
// that thread makes (a pointer copy instead of two system calls per line).
struct ThreadFacts {
    std::shared_ptr<const std::string> threadID;    // gettid() in decimal
    std::shared_ptr<const std::string> threadName;  // "" when the thread has no name of its own
};

// The calling thread's facts.
const ThreadFacts& currentThreadFacts();

// Reads the calling thread's facts again; for a thread that renames itself after it has logged.
void refreshThreadFacts();

}  // namespace logging::internal
