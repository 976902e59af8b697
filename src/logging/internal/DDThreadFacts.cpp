#include "logging/internal/DDThreadFacts.h"

#include <errno.h>
#include <pthread.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

namespace logging::internal {

namespace {

// Linux gives every thread a name, inherited from its creator and starting as the program's; a thread still
// carrying the program's name counts as unnamed, as a thread that was never named does elsewhere.
const std::string& programThreadName() {
    static const std::string name = std::string(program_invocation_short_name).substr(0, 15);
    return name;
}

ThreadFacts readThreadFacts() {
    char id[24];
    const auto end = std::to_chars(id, id + sizeof id, static_cast<unsigned long long>(gettid())).ptr;
    char name[64] = {};
    std::string threadName;
    if (pthread_getname_np(pthread_self(), name, sizeof name) == 0 && name != programThreadName()) {
        threadName = name;
    }
    return {std::make_shared<const std::string>(id, end),
            std::make_shared<const std::string>(std::move(threadName))};
}

ThreadFacts& threadFacts() {
    thread_local ThreadFacts facts = readThreadFacts();
    return facts;
}

}  // namespace

const ThreadFacts& currentThreadFacts() {
    return threadFacts();
}

void refreshThreadFacts() {
    threadFacts() = readThreadFacts();
}

}  // namespace logging::internal
