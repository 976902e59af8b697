#include "Session.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>

#include "MessageJson.h"
#include "dispatch/RunLoop.h"
#include "dispatch/SerialQueue.h"

namespace tandrelctl {

using xpc::ErrorCode;
using xpc::Object;

namespace {

Object request(const std::string& type) {
    Object message = Object::dictionary();
    message.set("type", Object::string(type));
    return message;
}

std::string seconds(std::chrono::milliseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(duration.count()) / 1000.0);
    return text;
}

}  // namespace

void Session::blockSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int Session::run() {
    auto queue = dispatch::Queue::main();
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    std::unique_ptr<dispatch::RunLoop::Watch> signalWatch;
    if (signalFd >= 0) {
        signalWatch = dispatch::RunLoop::main().watch(
            signalFd, dispatch::RunLoop::Readable, [this, signalFd](unsigned) {
                signalfd_siginfo info{};
                [[maybe_unused]] auto got = ::read(signalFd, &info, sizeof info);
                finish(line_.command == CommandLine::Command::Watch ? 0 : 130,
                       line_.command == CommandLine::Command::Watch ? "" : "interrupted");
            });
    }

    connection_ = xpc::Connection::connectToService(
        line_.service, queue, [this](const std::string& warning) { lastWarning_ = warning; });
    connection_->setEventHandler([this](const Object& event) { onEvent(event); });
    connection_->resume();

    switch (line_.command) {
        case CommandLine::Command::Watch:
            send(request("StartMonitor"), true);
            break;
        case CommandLine::Command::Send: {
            std::string error;
            auto json = nlohmann::json::parse(line_.argument, nullptr, /*allow_exceptions=*/false);
            auto message = json.is_discarded() ? std::nullopt : MessageJson::toMessage(json, error);
            // Checked before running by main; kept here so that a bad argument can never be sent half-built.
            if (!message) return 2;
            send(*message, true);
            break;
        }
        case CommandLine::Command::InsertText: {
            Object message = request("InsertText");
            message.set("data", Object::string(line_.argument));
            send(message, true);
            break;
        }
        default:
            send(request(CommandLine::requestType(line_.command)), true);
            break;
    }

    dispatch::RunLoop::main().run();
    signalWatch.reset();
    if (signalFd >= 0) ::close(signalFd);
    if (deadline_) deadline_->cancel();
    connection_->cancel();
    return status_;
}

void Session::send(const Object& message, bool expectAnswer) {
    if (expectAnswer) {
        const std::string* type = message.getString("type");
        expected_ = line_.command == CommandLine::Command::Send || type == nullptr ? "" : *type;
        ++pendingAnswers_;
        armTimeout();
    }
    connection_->send(message);
}

void Session::armTimeout() {
    if (deadline_) deadline_->cancel();
    deadline_ = dispatch::WorkItem::create([this] {
        finish(1, "no answer from " + line_.service + " within " + seconds(line_.timeout) + " s");
    });
    dispatch::Queue::main()->asyncAfter(line_.timeout, deadline_);
}

void Session::answered() {
    if (pendingAnswers_ > 0) --pendingAnswers_;
    if (pendingAnswers_ == 0 && deadline_) {
        deadline_->cancel();
        deadline_.reset();
    }
}

void Session::onEvent(const Object& event) {
    if (finished_) return;
    if (event.isError(ErrorCode::ConnectionInvalid)) {
        // No peer was ever identified: the connection was never made.
        const bool neverConnected = connection_->peerPid() < 0;
        std::string reason =
            neverConnected ? line_.service + " is not running" : line_.service + " closed the connection";
        if (!lastWarning_.empty()) reason += " (" + lastWarning_ + ")";
        finish(1, reason);
    } else if (event.isError(ErrorCode::ConnectionInterrupted)) {
        finish(1, line_.service + " went away" + (lastWarning_.empty() ? "" : " (" + lastWarning_ + ")"));
    } else if (event.isDictionary()) {
        onMessage(event);
    }
}

void Session::onMessage(const Object& message) {
    const std::string* typeValue = message.getString("type");
    const std::string type = typeValue ? *typeValue : "";
    const bool watching = line_.command == CommandLine::Command::Watch;
    if (!watching) {
        // One request, one answer; events that happen to arrive meanwhile are not what was asked for.
        if (!expected_.empty() && type != expected_) return;
        print(message);
        answered();
        finish(0);
        return;
    }
    if (type == "SelectionEvent") {
        print(message);
        if (line_.watchText) send(request("SelectedText"), true);
        return;
    }
    if (type == "StartMonitor" || type == "SelectedText") {
        print(message);
        answered();
        if (type == "StartMonitor") {
            auto content =
                nlohmann::json::parse(MessageJson::line(message), nullptr, /*allow_exceptions=*/false);
            if (content.is_object() && content.contains("result") && content["result"] == false) {
                std::fprintf(stderr,
                             "tandrelctl: %s lacks the input-monitoring permission; no selection will "
                             "be reported\n",
                             line_.service.c_str());
            }
        }
    }
}

void Session::print(const Object& message) {
    const std::string text = MessageJson::line(message) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Session::finish(int status, const std::string& reason) {
    if (finished_) return;
    finished_ = true;
    status_ = status;
    if (!reason.empty()) std::fprintf(stderr, "tandrelctl: %s\n", reason.c_str());
    dispatch::RunLoop::main().stop();
}

}  // namespace tandrelctl
