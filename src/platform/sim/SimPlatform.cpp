#include "platform/sim/SimPlatform.h"

#include <algorithm>

namespace platform::sim {

SimPlatform::SimPlatform() = default;
SimPlatform::~SimPlatform() = default;

void SimPlatform::send(EventType type, std::uint64_t flags, std::int64_t clickCount) {
    InputEvent event;
    event.type = type;
    event.flags = flags;
    event.clickState = clickCount;
    eventTaps_.deliver(event);
}

void SimPlatform::mouseDown(std::uint64_t flags, std::int64_t clickCount) {
    send(EventType::LeftMouseDown, flags, clickCount);
}
void SimPlatform::mouseDragged(std::uint64_t flags) {
    send(EventType::LeftMouseDragged, flags, 1);
}
void SimPlatform::mouseUp(std::int64_t clickCount, std::uint64_t flags) {
    send(EventType::LeftMouseUp, flags, clickCount);
}
void SimPlatform::mouseMoved() {
    send(EventType::MouseMoved, 0, 0);
}
void SimPlatform::rightMouseDown() {
    send(EventType::RightMouseDown, 0, 1);
}

void SimPlatform::multiClick(int count, std::uint64_t flags) {
    for (int click = 1; click <= count; ++click) {
        mouseDown(flags, click);
        mouseUp(click, flags);
    }
}

std::shared_ptr<SimApplication> SimPlatform::addApplication(std::int32_t pid, std::string name) {
    auto application = std::make_shared<SimApplication>(pid, std::move(name), readLog_);
    applications_.push_back(application);
    return application;
}

void SimPlatform::removeApplication(const std::shared_ptr<SimApplication>& application) {
    application->applicationElement()->setDefunct(true);
    std::erase(applications_, application);
    if (frontmost_ == application) frontmost_.reset();
}

std::shared_ptr<SimElement> SimPlatform::makeElement(std::string name) {
    return std::make_shared<SimElement>(readLog_, std::move(name));
}

bool SimPlatform::isProcessTrustedWithOptions(bool prompt) {
    trustChecks_.push_back(prompt);
    return trusted_;
}

std::shared_ptr<AXUIElement> SimPlatform::createApplication(const RunningApplication& application) {
    for (const auto& candidate : applications_) {
        if (candidate->pid() == application.processIdentifier) return candidate->applicationElement();
    }
    auto gone = std::make_shared<SimElement>(readLog_, "gone");
    gone->setDefunct(true);
    return gone;
}

std::optional<RunningApplication> SimPlatform::frontmostApplication() {
    if (!frontmost_) return std::nullopt;
    return frontmost_->running();
}

void SimPlatform::postEvent(EventTapLocation location, const KeyboardEvent& event) {
    posted_.push_back({location, event});
    if (!event.keyDown || !frontmost_) return;
    // The application acts on the chord's key-down, like real ones.
    switch (editCommandOf(event)) {
        case EditCommand::Copy:
            frontmost_->receiveCopy(pasteboard_, mainScheduler());
            break;
        case EditCommand::Paste:
            frontmost_->receivePaste(pasteboard_);
            break;
        case EditCommand::None:
            break;
    }
}

std::optional<CursorImage> SimPlatform::currentSystemCursor() {
    ++cursorReads_;
    return cursor_;
}

std::unique_ptr<SimPlatform> createSimPlatform() {
    return std::make_unique<SimPlatform>();
}

}  // namespace platform::sim
