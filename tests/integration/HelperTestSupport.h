#pragma once

// What the whole-helper tests on a display share: which helper binary they start, how they read its messages,
// and how long they listen for an event that must not come.

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "dispatch/SerialQueue.h"
#include "helper/XpcService.h"
#include "helper/testing/HelperSession.h"
#include "platform/x11/internal/testing/ChildProcess.h"
#include "xpc/Connection.h"

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

// Another client of the helper beside the session's own, counting its answers and events; ended when
// destroyed.
class OtherClient {
  public:
    // Connected and answered once (so the helper has accepted it); null otherwise.
    static std::unique_ptr<OtherClient> open() {
        auto client = std::unique_ptr<OtherClient>(new OtherClient());
        client->connection_ = xpc::Connection::connectToService(XpcService::kServiceName, client->queue_);
        client->connection_->setEventHandler([state = client->state_](const xpc::Object& event) {
            if (event.isError(xpc::ErrorCode::ConnectionInvalid)) state->closed = true;
            const std::string* type = event.getString("type");
            if (type == nullptr) return;
            ++(*type == kSelectionEvent ? state->events : state->answers);
        });
        client->connection_->resume();
        if (!client->request("IsPermissionGranted")) return nullptr;
        return client;
    }
    ~OtherClient() {
        connection_->cancel();
        ::x11::testing::waitUntil([&] { return state_->closed.load(); });
    }

    // Sends a request and waits for its answer.
    bool request(const std::string& type) {
        const int before = state_->answers;
        xpc::Object request = xpc::Object::dictionary();
        request.set("type", xpc::Object::string(type));
        connection_->send(request);
        return ::x11::testing::waitUntil([&] { return state_->answers > before; });
    }
    int events() const { return state_->events; }

  private:
    struct State {
        std::atomic<int> answers{0};
        std::atomic<int> events{0};
        std::atomic<bool> closed{false};
    };
    OtherClient() = default;
    std::shared_ptr<dispatch::SerialQueue> queue_ = dispatch::SerialQueue::create("other-client");
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::shared_ptr<xpc::Connection> connection_;
};

}  // namespace helper::testing
