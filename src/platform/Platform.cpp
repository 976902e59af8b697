#include "platform/Platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

std::atomic<Platform*> currentPlatform{nullptr};

}  // namespace

bool Platform::setCurrent(std::unique_ptr<Platform> platform) {
    Platform* expected = nullptr;
    Platform* raw = platform.get();
    if (raw == nullptr || !currentPlatform.compare_exchange_strong(expected, raw)) return false;
    platform.release();  // lives until the process ends, like the singletons that refer to it
    return true;
}

Platform& Platform::current() {
    Platform* platform = currentPlatform.load();
    if (platform == nullptr) {
        std::fprintf(stderr, "Platform: no platform installed before first use\n");
        std::abort();
    }
    return *platform;
}

bool Platform::hasCurrent() {
    return currentPlatform.load() != nullptr;
}

}  // namespace platform
