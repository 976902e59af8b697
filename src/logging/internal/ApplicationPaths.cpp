#include "logging/internal/ApplicationPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "logging/internal/Diagnostics.h"

namespace logging::internal {
namespace {

std::mutex& identifierMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& applicationIdentifier() {
    static std::string identifier;  // guarded by identifierMutex()
    return identifier;
}

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

std::string temporaryDirectory() {
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && tmp[0] == '/') return tmp;
    return "/tmp";
}

}  // namespace

void setApplicationIdentifier(std::string identifier) {
    std::lock_guard lock(identifierMutex());
    applicationIdentifier() = std::move(identifier);
}

std::string applicationName() {
    std::lock_guard lock(identifierMutex());
    if (!applicationIdentifier().empty()) return applicationIdentifier();
    return processName();
}

std::string stateHomeDirectory() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') return state;
    if (const std::string home = homeDirectory(); !home.empty()) {
        return (std::filesystem::path(home) / ".local" / "state").string();
    }
    return temporaryDirectory();
}

}  // namespace logging::internal
