#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/SerialQueue.h"
#include "xpc/Connection.h"
#include "xpc/Object.h"

namespace x11::testing {
class ChildProcess;
}
namespace xpc::testing {
class RuntimeDirectory;
}

namespace helper::testing {

// One message the helper sent, or a connection error, stamped with its arrival on the client's queue.
struct HelperMessage {
    std::string type;  // "type" of the message; empty for an error
    std::string data;  // the JSON text of "data"
    std::optional<xpc::ErrorCode> error;
    std::chrono::steady_clock::time_point arrival;
};

// A client on the helper's socket, found through XDG_RUNTIME_DIR like the real clients. Messages arrive on a
// private serial queue (no run loop to pump), kept in order; the waits are bounded. For one test thread.
class HelperClient {
  public:
    using Clock = std::chrono::steady_clock;

    HelperClient();
    virtual ~HelperClient();
    HelperClient(const HelperClient&) = delete;
    HelperClient& operator=(const HelperClient&) = delete;

    // Replaces the connection and the received messages; true once the socket is connected.
    bool connect(std::chrono::milliseconds limit = std::chrono::seconds(5));
    bool connected() const { return connection_ && connection_->peerPid() >= 0; }
    // Cancels the connection and waits until it is closed on this side.
    void disconnect(std::chrono::milliseconds limit = std::chrono::seconds(5));

    // `data` becomes the string "data" (for "InsertText").
    void send(const std::string& type, const std::optional<std::string>& data = std::nullopt);
    // Sends a request and waits for the next message of the same type (its answer).
    std::optional<HelperMessage> request(const std::string& type,
                                         const std::optional<std::string>& data = std::nullopt,
                                         std::chrono::milliseconds limit = std::chrono::seconds(5));
    // The oldest message of `type` not yet taken, waiting up to `limit` for one; it is then taken.
    std::optional<HelperMessage> waitFor(const std::string& type,
                                         std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Waits until the connection delivered the error `code`.
    bool waitForError(xpc::ErrorCode code, std::chrono::milliseconds limit = std::chrono::seconds(5));
    // How many messages of `type` arrived on the current connection, taken or not.
    std::size_t count(const std::string& type) const;

  private:
    // What one connection delivered, each with whether it was taken.
    struct Inbox {
        void record(const xpc::Object& event);

        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::pair<HelperMessage, bool>> received;  // guarded by mutex
    };
    // The oldest message that `match`es and was not taken, waiting up to `limit`; with `take` it is taken.
    std::optional<HelperMessage> await(const std::function<bool(const HelperMessage&)>& match, bool take,
                                       std::chrono::milliseconds limit) const;

    std::shared_ptr<dispatch::SerialQueue> queue_;
    std::shared_ptr<xpc::Connection> connection_;
    std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
};

// The real tandrel-helper program as a child process on a display, with a private runtime directory (0700)
// and its own client; for end-to-end tests and benchmarks. While it lives, this process's XDG_RUNTIME_DIR
// names that directory: one session at a time. Destruction ends the helper (SIGTERM, then SIGKILL).
class HelperSession : public HelperClient {
  public:
    // Null, with `why` set, when the helper does not serve its socket within `limit`. WAYLAND_DISPLAY is
    // `waylandDisplay` (empty: never the tests' own compositor); `env` adds "NAME=value" entries.
    static std::unique_ptr<HelperSession> start(const std::string& helperPath, const std::string& display,
                                                std::string* why = nullptr,
                                                std::chrono::milliseconds limit = std::chrono::seconds(10),
                                                const std::string& waylandDisplay = {},
                                                const std::vector<std::string>& env = {});
    ~HelperSession() override;

    pid_t pid() const;
    bool isRunning();
    // Ends the helper with SIGTERM; its exit status, or -1 if it had not exited after `limit` (then killed).
    int stop(std::chrono::milliseconds limit = std::chrono::seconds(5));

  private:
    HelperSession() = default;

    std::unique_ptr<xpc::testing::RuntimeDirectory> runtimeDirectory_;
    std::unique_ptr<x11::testing::ChildProcess> process_;
};

}  // namespace helper::testing
