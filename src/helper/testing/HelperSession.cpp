#include "helper/testing/HelperSession.h"

#include <signal.h>

#include <algorithm>

#include "helper/XpcService.h"
#include "platform/x11/internal/testing/ChildProcess.h"
#include "xpc/internal/ChannelTestSupport.h"

namespace helper::testing {

std::unique_ptr<HelperSession> HelperSession::start(const std::string& helperPath, const std::string& display,
                                                    std::string* why, std::chrono::milliseconds limit,
                                                    const std::string& waylandDisplay,
                                                    const std::vector<std::string>& env) {
    auto fail = [why](const std::string& reason) -> std::unique_ptr<HelperSession> {
        if (why) *why = reason;
        return nullptr;
    };
    auto session = std::unique_ptr<HelperSession>(new HelperSession());
    session->runtimeDirectory_ = std::make_unique<xpc::testing::RuntimeDirectory>();
    const std::string& directory = session->runtimeDirectory_->path();

    x11::testing::ChildProcess::Options options;
    options.env = {"DISPLAY=" + display, "WAYLAND_DISPLAY=" + waylandDisplay, "XDG_RUNTIME_DIR=" + directory};
    options.env.insert(options.env.end(), env.begin(), env.end());
    std::string spawnError;
    auto& process = session->process_;
    process = x11::testing::ChildProcess::start({helperPath}, options, &spawnError);
    if (!process) return fail("cannot start " + helperPath + ": " + spawnError);
    // A connection to a socket nobody serves yet fails at once.
    x11::testing::waitUntil([&] { return !process->isRunning() || session->connect(limit); }, limit);
    if (session->connected()) return session;
    return fail(helperPath + (process->isRunning() ? " did not serve" : " exited before serving") +
                " its socket in " + directory);
}

HelperClient::HelperClient() : queue_(dispatch::SerialQueue::create("helper-client")) {}

HelperClient::~HelperClient() {
    disconnect();
}

HelperSession::~HelperSession() {
    disconnect();
    process_.reset();  // SIGTERM, then SIGKILL, by PID; the directory goes after
}

pid_t HelperSession::pid() const {
    return process_ ? process_->pid() : -1;
}

bool HelperSession::isRunning() {
    return process_ && process_->isRunning();
}

bool HelperClient::connect(std::chrono::milliseconds limit) {
    disconnect();
    // A fresh inbox: a late event of the old connection goes to the old one.
    inbox_ = std::make_shared<Inbox>();
    connection_ = xpc::Connection::connectToService(XpcService::kServiceName, queue_);
    connection_->setEventHandler([inbox = inbox_](const xpc::Object& event) { inbox->record(event); });
    connection_->resume();
    // Connected once the peer is known; a connection that fails ends with an error instead.
    x11::testing::waitUntil([&] { return connected() || await([](auto&) { return true; }, false, {}); },
                            limit);
    return connected();
}

void HelperClient::disconnect(std::chrono::milliseconds limit) {
    if (!connection_) return;
    connection_->cancel();
    waitForError(xpc::ErrorCode::ConnectionInvalid, limit);
    connection_.reset();
}

void HelperClient::Inbox::record(const xpc::Object& event) {
    if (!event.isError() && !event.isDictionary()) return;
    HelperMessage message;
    message.arrival = Clock::now();
    if (event.isError()) message.error = event.errorCode();
    // An error is no dictionary: it has neither.
    if (const auto* type = event.getString("type")) message.type = *type;
    if (const auto* data = event.getData("data")) message.data.assign(data->begin(), data->end());
    std::lock_guard lock(mutex);
    received.push_back({std::move(message), false});
    changed.notify_all();
}

void HelperClient::send(const std::string& type, const std::optional<std::string>& data) {
    if (!connection_) return;
    xpc::Object message = xpc::Object::dictionary();
    message.set("type", xpc::Object::string(type));
    if (data) message.set("data", xpc::Object::string(*data));
    connection_->send(message);
}

std::optional<HelperMessage> HelperClient::request(const std::string& type,
                                                   const std::optional<std::string>& data,
                                                   std::chrono::milliseconds limit) {
    send(type, data);
    return waitFor(type, limit);
}

std::optional<HelperMessage> HelperClient::await(const std::function<bool(const HelperMessage&)>& match,
                                                 bool take, std::chrono::milliseconds limit) const {
    std::unique_lock lock(inbox_->mutex);
    std::optional<HelperMessage> found;
    inbox_->changed.wait_for(lock, limit, [&] {
        for (auto& [message, taken] : inbox_->received) {
            if (taken || !match(message)) continue;
            taken = take;
            found = message;
            return true;
        }
        return false;
    });
    return found;
}

std::optional<HelperMessage> HelperClient::waitFor(const std::string& type, std::chrono::milliseconds limit) {
    return await([&](const HelperMessage& m) { return !m.error && m.type == type; }, true, limit);
}

bool HelperClient::waitForError(xpc::ErrorCode code, std::chrono::milliseconds limit) {
    return await([&](const HelperMessage& m) { return m.error == code; }, false, limit).has_value();
}

std::size_t HelperClient::count(const std::string& type) const {
    std::lock_guard lock(inbox_->mutex);
    return std::count_if(inbox_->received.begin(), inbox_->received.end(),
                         [&](const auto& entry) { return !entry.first.error && entry.first.type == type; });
}

int HelperSession::stop(std::chrono::milliseconds limit) {
    if (!process_ || !process_->isRunning()) return -1;
    ::kill(process_->pid(), SIGTERM);
    const int status = process_->waitExit(limit);
    if (status < 0) process_->terminate();
    return status;
}

}  // namespace helper::testing
