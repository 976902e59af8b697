#include "logging/internal/Diagnostics.h"

#include <errno.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace logging::internal {

const std::string& processName() {
    static const std::string name = [] {
        const char* shortName = program_invocation_short_name;
        return std::string(shortName != nullptr ? shortName : "");
    }();
    return name;
}

std::string errnoDescription(int err) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(err, buffer, sizeof buffer);
    return std::string(text) + " (errno " + std::to_string(err) + ")";
}

void ddDiagnostic(std::string_view text) {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[64];
    const size_t stampLength = strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char prefix[160];
    const int prefixLength =
        snprintf(prefix, sizeof prefix, "%.*s.%03ld %s[%ld] ", static_cast<int>(stampLength), stamp,
                 static_cast<long>(now.tv_usec / 1000), processName().c_str(), static_cast<long>(getpid()));
    std::string line;
    line.reserve(static_cast<size_t>(prefixLength) + text.size() + 1);
    line.append(prefix, static_cast<size_t>(prefixLength > 0 ? prefixLength : 0));
    line.append(text);
    line.push_back('\n');
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere else to report to
        done += static_cast<size_t>(n);
    }
}

}  // namespace logging::internal
