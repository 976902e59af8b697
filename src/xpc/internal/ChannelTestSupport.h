#pragma once

// Helpers shared by the channel's tests and its users' tests: a private runtime directory, a main-loop
// driver, an event recorder, a recording client, a scripted in-process service, raw sockets and child
// processes.

#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/RunLoop.h"
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
        return std::any_of(events.begin(), events.end(), [&](const Object& e) { return e.isError(code); });
    }
    // The messages received so far, in order, without the errors.
    std::vector<Object> received() const {
        std::vector<Object> out;
        std::copy_if(events.begin(), events.end(), std::back_inserter(out),
                     [](auto& e) { return e.isDictionary(); });
        return out;
    }
    std::size_t messages() const { return received().size(); }
};

inline Object message(const std::string& type) {
    Object result = Object::dictionary();
    result.set("type", Object::string(type));
    return result;
}

// A client on the main queue, recording what it receives.
struct Client {
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<Connection> connection;

    explicit Client(const std::string& service) : connection(Connection::connectToService(service, nullptr)) {
        connection->setEventHandler(
            [recorder = recorder](const Object& event) { recorder->events.push_back(event); });
        connection->resume();
    }
    void send(const std::string& type) { connection->send(message(type)); }
    void send(const Object& request) { connection->send(request); }
    std::size_t messages() const { return recorder->messages(); }
    std::vector<Object> received() const { return recorder->received(); }
    // Sends a message of `type` and waits until `count` messages have come in all.
    bool ask(const std::string& type, std::size_t count) {
        send(type);
        return waitFor(count);
    }
    bool waitFor(std::size_t count) {
        return runUntil([&] { return messages() >= count; });
    }
    bool waitFor(ErrorCode code) {
        return runUntil([&] { return recorder->has(code); });
    }
};

// An in-process service on the main queue that records what each client sends and answers requests from
// `answers` by their type, or echoes every message back.
struct ScriptedService {
    using Answer = std::function<void(const std::shared_ptr<Connection>&, const Object& request)>;
    std::shared_ptr<Listener> listener;
    std::vector<std::shared_ptr<Connection>> accepted;
    std::vector<std::shared_ptr<Recorder>> received;
    std::vector<std::string> warnings;
    std::map<std::string, Answer> answers;
    bool echo = false;

    bool start(const std::string& name, const std::function<void(Listener&)>& configure = {}) {
        listener = Listener::create(name, nullptr, [this](const std::string& w) { warnings.push_back(w); });
        if (!listener) return false;
        if (configure) configure(*listener);
        listener->setConnectionHandler([this](std::shared_ptr<Connection> connection) {
            auto recorder = std::make_shared<Recorder>();
            // Holding the connection strongly is fine: the handler is released after ConnectionInvalid.
            connection->setEventHandler([this, recorder, connection](const Object& event) {
                recorder->events.push_back(event);
                if (!event.isDictionary()) return;
                if (echo) connection->send(event);
                const std::string* type = event.getString("type");
                auto found = type ? answers.find(*type) : answers.end();
                if (found != answers.end()) found->second(connection, event);
            });
            connection->resume();
            accepted.push_back(connection);
            received.push_back(recorder);
        });
        listener->resume();
        return true;
    }
    // Ends what is still open before the handlers' `this` goes away (a failed assertion leaves clients
    // behind).
    ~ScriptedService() {
        for (const auto& connection : accepted) connection->cancel();
        runUntil([&] { return allEnded(); });
    }
    // Answers every request of `type` with `messages`.
    void reply(const std::string& type, std::vector<Object> messages) {
        answers[type] = [messages](const std::shared_ptr<Connection>& connection, const Object&) {
            for (const auto& message : messages) connection->send(message);
        };
    }
    bool allEnded() const {
        return std::all_of(received.begin(), received.end(),
                           [](const auto& r) { return r->has(ErrorCode::ConnectionInvalid); });
    }
    std::size_t countWarnings(const std::string& text) const {
        return static_cast<std::size_t>(std::count_if(warnings.begin(), warnings.end(), [&](const auto& w) {
            return w.find(text) != std::string::npos;
        }));
    }
};

inline sockaddr_un unixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// Connects `fd` to the socket at `path`; false with errno set when that fails.
inline bool connectTo(const internal::UniqueFd& fd, const std::string& path) {
    const sockaddr_un address = unixAddress(path);
    return ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// A raw client socket, for speaking bad frames.
inline internal::UniqueFd rawConnect(const std::string& path) {
    internal::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return connectTo(fd, path) ? std::move(fd) : internal::UniqueFd();
}

// Starts `arguments` (the program first) with `actions` and this environment; -1 when that fails.
inline pid_t spawn(std::vector<std::string> arguments, const posix_spawn_file_actions_t& actions) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = -1;
    return ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0 ? child : -1;
}

// Waits, serving the main loop, for `child` to end: its wait status, or -1 when it did not.
inline int waitForExit(pid_t child) {
    int status = -1;
    return runUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }) ? status : -1;
}

}  // namespace xpc::testing
