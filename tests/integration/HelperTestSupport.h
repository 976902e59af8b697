#pragma once

// What the whole-helper tests on a display share: which helper binary they start, how they read its messages,
// and how long they listen for an event that must not come.

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "helper/testing/HelperSession.h"

namespace helper::testing {

inline constexpr const char* kSelectionEvent = "SelectionEvent";
// Longer than the helper's 0.2 s deferred read of a multiple click, with room for a loaded machine.
inline constexpr std::chrono::milliseconds kQuietWindow{600};

// The helper binary of this build, or another one named by TANDREL_TEST_HELPER (an installed or modified
// build).
inline std::string helperUnderTest() {
    const char* path = std::getenv("TANDREL_TEST_HELPER");
    return path != nullptr && *path != '\0' ? path : TANDREL_HELPER_PATH;
}

// The message's "data" as JSON; null when there is no message, discarded when it is not JSON.
inline nlohmann::json json(const std::optional<HelperMessage>& message) {
    if (!message) return nullptr;
    return nlohmann::json::parse(message->data, nullptr, /*allow_exceptions=*/false);
}

}  // namespace helper::testing
