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

namespace helper::testing {

// One message the helper sent the client, or a connection error, stamped with the steady-clock time at which
// the client's queue received it.
struct HelperMessage {
    std::string type;  // "type" of the message; empty for an error
    std::string data;  // the JSON text of "data"
    std::optional<xpc::ErrorCode> error;
    std::chrono::steady_clock::time_point arrival;
};

// A client on the helper's socket, found through XDG_RUNTIME_DIR like the real clients. Messages arrive on a
// private serial queue (no run loop to pump) and are kept in arrival order; the waits are bounded. For one
// test thread; the queue only appends to the message list under its mutex. Destruction cancels the
// connection.
class HelperClient {
  public:
    using Clock = std::chrono::steady_clock;

    HelperClient();
    virtual ~HelperClient();
    HelperClient(const HelperClient&) = delete;
    HelperClient& operator=(const HelperClient&) = delete;

    // Replaces the connection with a new one (the old one is cancelled first) and clears the received
    // messages. True once the socket is connected; only a request's answer proves that the helper accepted
    // it.
    bool connect(std::chrono::milliseconds limit = std::chrono::seconds(5));
    bool connected() const { return connection_ && connection_->peerPid() >= 0; }
    // Cancels the connection and waits until it is closed on this side.
    void disconnect(std::chrono::milliseconds limit = std::chrono::seconds(5));

    // Sends a request; `data` becomes the string "data" (for "InsertText").
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
    // What one connection delivered, each with whether it was taken; shared with the connection's handler.
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

// The real tandrel-helper program as a child process on a display, with a private runtime directory (0700),
// and its own client connection; for end-to-end tests and benchmarks. `start` points this process's
// XDG_RUNTIME_DIR at that directory (so that clients find the socket) and the destructor restores it: one
// session at a time per process, and nothing else may use that variable meanwhile. Destruction also ends the
// helper by its PID (SIGTERM, then SIGKILL after a second) and removes the directory.
class HelperSession : public HelperClient {
  public:
    // Null, with `why` set, when the helper cannot be started or does not serve its socket within `limit`. It
    // sees `waylandDisplay` as WAYLAND_DISPLAY (empty by default: a session on an X display never picks the
    // compositor of the desktop the tests run on); `env` adds entries ("NAME=value").
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

    std::string runtimeDirectory_;
    std::optional<std::string> savedRuntimeDirectory_;
    std::unique_ptr<x11::testing::ChildProcess> process_;
};

}  // namespace helper::testing
