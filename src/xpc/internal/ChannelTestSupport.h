#pragma once

// Helpers shared by the channel's tests: a private runtime directory, a main-loop driver and an event
// recorder.

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dispatch/RunLoop.h"
#include "dispatch/SerialQueue.h"
#include "xpc/Connection.h"
#include "xpc/Listener.h"
#include "xpc/Object.h"
#include "xpc/internal/UniqueFd.h"

namespace xpc::testing {

// Points XDG_RUNTIME_DIR at a fresh directory for one test and restores it afterwards.
class RuntimeDirectory {
  public:
    RuntimeDirectory() {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) saved_ = old;
        char pattern[] = "/tmp/xpc-test-XXXXXX";
        path_ = ::mkdtemp(pattern);
        ::setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
    }
    ~RuntimeDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        if (saved_) {
            ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
    }
    const std::string& path() const { return path_; }
    std::string socketPath(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
    std::optional<std::string> saved_;
};

// Runs the main loop until `done` holds; false after `limit`.
inline bool runUntil(const std::function<bool()>& done,
                     std::chrono::milliseconds limit = std::chrono::milliseconds(30000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        dispatch::RunLoop::main().runFor(std::chrono::milliseconds(5));
    }
    return true;
}

// Lets pending main-queue work and socket events run for a moment.
inline void settle(std::chrono::milliseconds time = std::chrono::milliseconds(50)) {
    dispatch::RunLoop::main().runFor(time);
}

// Records what one connection delivers. Used only on the connection's target queue and then read there (or
// after the queue went quiet).
struct Recorder {
    std::vector<Object> events;
    bool has(ErrorCode code) const {
        for (const auto& event : events) {
            if (event.isError(code)) return true;
        }
        return false;
    }
    std::size_t messages() const {
        std::size_t count = 0;
        for (const auto& event : events) count += event.isDictionary() ? 1 : 0;
        return count;
    }
};

inline std::shared_ptr<Connection> connectRecording(const std::string& name,
                                                    std::shared_ptr<Recorder> recorder,
                                                    std::shared_ptr<dispatch::SerialQueue> queue = nullptr,
                                                    DiagnosticHandler diagnostics = {}) {
    auto connection = Connection::connectToService(name, std::move(queue), std::move(diagnostics));
    connection->setEventHandler([recorder](const Object& event) { recorder->events.push_back(event); });
    connection->resume();
    return connection;
}

// A raw client socket, for speaking bad frames.
inline internal::UniqueFd rawConnect(const std::string& path) {
    internal::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {};
    return fd;
}

inline Object message(const std::string& type) {
    Object result = Object::dictionary();
    result.set("type", Object::string(type));
    return result;
}

// A message holding every kind of value that travels, at the edges of its encodings.
inline Object everyKind() {
    Object nested = Object::dictionary();
    nested.set("text", Object::string("\xe2\x9c\x93 unicode"));
    Object result = message("Kinds");
    result.set("data", Object::data(Object::Bytes{0, 1, 2, 0xff}));
    result.set("empty", Object::string(""));
    result.set("long", Object::string(std::string(70000, 'l')));
    result.set("bytes", Object::data(Object::Bytes(300, 7)));
    result.set("null", Object::null());
    result.set("yes", Object::boolean(true));
    result.set("no", Object::boolean(false));
    result.set("smallSigned", Object::int64(5));
    result.set("negative", Object::int64(-1));
    result.set("minSigned", Object::int64(std::numeric_limits<std::int64_t>::min()));
    result.set("maxSigned", Object::int64(std::numeric_limits<std::int64_t>::max()));
    result.set("smallUnsigned", Object::uint64(5));
    result.set("maxUnsigned", Object::uint64(std::numeric_limits<std::uint64_t>::max()));
    result.set("double", Object::real(-2.5e300));
    result.set("array", Object::array({Object::int64(300), Object::string("s"), nested}));
    result.set("nested", nested);
    return result;
}

}  // namespace xpc::testing
