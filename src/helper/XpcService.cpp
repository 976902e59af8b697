#include "helper/XpcService.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include <nlohmann/json.hpp>

#include "dispatch/SerialQueue.h"
#include "dispatch/WorkItem.h"
#include "helper/logging.h"

namespace {

using xpc::ErrorCode;
using xpc::Object;

constexpr std::chrono::nanoseconds kPasteDelay{50000000};

// Step 1 of every answer: a dictionary naming its kind.
Object newAnswer(const std::string& kind) {
    Object answer = Object::dictionary();
    answer.set("type", Object::string(kind));
    return answer;
}

// Steps 2 and 3: the JSON object, which repeats the kind, as compact UTF-8 in "data". Text the client gave
// or the desktop yielded may be malformed UTF-8; such bytes are replaced rather than failing the answer.
void setJsonData(Object& answer, nlohmann::json content) {
    content["type"] = *answer.getString("type");
    answer.set("data", Object::data(content.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
}

}  // namespace

XpcService& XpcService::sharedInstance() {
    static XpcService instance(EventMonitor::sharedInstance(), PasteboardHelper::sharedInstance(),
                               platform::Platform::current().mainScheduler());
    return instance;
}

XpcService::XpcService(EventMonitor& monitor, PasteboardHelper& pasteboardHelper,
                       platform::Scheduler& mainScheduler)
    : eventMonitor_(monitor), pasteboardHelper_(pasteboardHelper), mainScheduler_(mainScheduler) {
    std::weak_ptr<int> alive = alive_;
    eventMonitor_.setTextSelectedHandler([this, alive] {
        if (alive.lock()) sendEvent("SelectionEvent");
    });
}

XpcService::~XpcService() {
    eventMonitor_.setTextSelectedHandler(nullptr);
    if (listener_) listener_->cancel();
}

bool XpcService::startWithServiceName(const std::string& name) {
    if (listener_) {
        LogE("XPC service already started.");
        return false;
    }
    auto listener = xpc::Listener::create(name, dispatch::Queue::main(),
                                          [](const std::string& warning) { LogW("%s", warning); });
    if (!listener) {
        LogE("Failed to create XPC mach service.");
        return false;
    }
    std::weak_ptr<int> alive = alive_;
    listener->setConnectionHandler([this, alive](std::shared_ptr<xpc::Connection> connection) {
        // A connection nobody takes is closed by the listener.
        if (alive.lock()) accept(connection);
    });
    listener->resume();
    listener_ = std::move(listener);
    return true;
}

void XpcService::accept(const ConnectionPtr& connection) {
    connection->setTargetQueue(dispatch::Queue::main());
    std::weak_ptr<int> alive = alive_;
    std::weak_ptr<xpc::Connection> weakConnection = connection;
    connection->setEventHandler([this, alive, weakConnection](const Object& event) {
        auto connection = weakConnection.lock();
        if (alive.lock() && connection) handleEvent(event, connection);
    });
    connection->resume();
    peer_ = connection;
}

void XpcService::sendEvent(const std::string& kind) {
    if (watchers_.empty()) return;
    Object event = newAnswer(kind);
    setJsonData(event, nlohmann::json::object());
    for (const auto& weak : watchers_) {
        if (auto watcher = weak.lock()) watcher->send(event);
    }
}

void XpcService::deliverTerminationImminent() {
    if (listener_) listener_->deliverTerminationImminent();
}

void XpcService::handleEvent(const Object& event, const ConnectionPtr& peer) {
    LogI("Receive xpc event: %@", event);
    if (auto code = event.errorCode()) {
        switch (*code) {
            case ErrorCode::ConnectionInvalid:
                LogW("Got XPC_ERROR_CONNECTION_INVALID");
                break;
            case ErrorCode::TerminationImminent:
                LogW("Got XPC_ERROR_TERMINATION_IMMINENT");
                break;
            case ErrorCode::ConnectionInterrupted:
                LogE("Got XPC_ERROR_CONNECTION_INTERRUPTED");
                LogE("This error shall not be send to a listener, shutdown now...");
                break;
        }
        // The client is done watching; monitoring ends with the last one, whatever order clients come and
        // go in. A client that never watched leaves the others' events alone.
        const auto before = watchers_.size();
        std::erase_if(watchers_, [&](const auto& weak) {
            auto watcher = weak.lock();
            return !watcher || watcher == peer;
        });
        if (before > 0 && watchers_.empty()) eventMonitor_.stop();
        return;
    }
    if (!event.isDictionary()) return;
    const std::string* type = event.getString("type");
    if (type == nullptr) {
        LogW("XPC description: %s", event.description());
        return;
    }
    LogI("Got message: %s", *type);
    if (*type == "StartMonitor") {
        handleStartRequest(peer);
    } else if (*type == "IsPermissionGranted") {
        handleIsPermissionGrantedRequest(peer);
    } else if (*type == "MouseLocation") {
        handleMouseLocationRequest(peer);
    } else if (*type == "SelectedText") {
        handleSelectedTextRequest(peer);
    } else if (*type == "InsertText") {
        if (const std::string* text = event.getString("data")) {
            handleInsertTextRequest(peer, *text);
        } else {
            refuseInsertTextWithoutText(peer);
        }
    }
}

void XpcService::handleStartRequest(const ConnectionPtr& peer) {
    Object answer = newAnswer("StartMonitor");
    const bool granted = eventMonitor_.isAccessibilityPermissionGranted(true);
    setJsonData(answer, {{"result", granted}});
    if (granted) {
        eventMonitor_.start();
        const bool watching = std::any_of(watchers_.begin(), watchers_.end(),
                                          [&](const auto& weak) { return weak.lock() == peer; });
        if (!watching) watchers_.push_back(peer);
    }
    peer->send(answer);
    LogI("Reply Start request: %@", answer);
}

void XpcService::handleIsPermissionGrantedRequest(const ConnectionPtr& peer) {
    Object answer = newAnswer("IsPermissionGranted");
    setJsonData(answer, {{"result", eventMonitor_.isAccessibilityPermissionGranted(false)}});
    peer->send(answer);
    LogI("Reply IsPermissionGranted request: %@", answer);
}

void XpcService::handleMouseLocationRequest(const ConnectionPtr& peer) {
    Object answer = newAnswer("MouseLocation");
    const platform::Point location = eventMonitor_.getMouseLocation();
    setJsonData(answer, {{"x", location.x}, {"y", location.y}});
    peer->send(answer);
    LogI("Reply MouseLocation request: %@", answer);
}

void XpcService::handleSelectedTextRequest(const ConnectionPtr& peer) {
    // The completion needs nothing of the service: it may run after the service is gone.
    eventMonitor_.getSelectedText(
        [peer, answer = newAnswer("SelectedText")](const std::string& text) mutable {
            setJsonData(answer, {{"content", text}});
            peer->send(answer);
            LogI("Reply SelectedText request: %@", answer);
        });
}

void XpcService::handleInsertTextRequest(const ConnectionPtr& peer, const std::string& text) {
    Object answer = newAnswer("InsertText");
    const bool granted = eventMonitor_.isAccessibilityPermissionGranted(false);
    setJsonData(answer, {{"result", granted}});
    if (!granted) {
        peer->send(answer);
        return;
    }
    pasteboardHelper_.copyTextToPasteboard(text);
    std::weak_ptr<int> alive = alive_;
    mainScheduler_.scheduleAfter(kPasteDelay, dispatch::WorkItem::create([this, alive, peer, answer, text] {
                                     if (!alive.lock()) return;
                                     pasteboardHelper_.simulatePaste();
                                     LogI("Simulate paste key event: %@", xpc::abbreviatedText(text));
                                     peer->send(answer);
                                 }));
}

void XpcService::refuseInsertTextWithoutText(const ConnectionPtr& peer) {
    LogW("InsertText request without a text in \"data\": nothing inserted");
    Object answer = newAnswer("InsertText");
    setJsonData(answer, {{"result", false}});
    peer->send(answer);
}
