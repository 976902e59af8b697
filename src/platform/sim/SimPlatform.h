#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/SimApplication.h"
#include "platform/sim/SimCursorImages.h"
#include "platform/sim/SimElement.h"
#include "platform/sim/SimEventTaps.h"
#include "platform/sim/SimPasteboard.h"
#include "platform/sim/SimScheduler.h"

namespace platform::sim {

// A scriptable in-memory desktop: a full backend that tests drive step by step. Tests feed left-button
// gestures, choose the cursor on show, the frontmost application and its focused element's answers, watch the
// key events posted and let applications react to the copy and paste chords; delayed work runs on a virtual
// clock (`scheduler().advance`).
//
// Single-threaded: the test's thread plays the main thread, and every callback (event taps, scheduled work)
// runs on it, synchronously inside the scripting call that caused it.
class SimPlatform : public Platform,
                    private Accessibility,
                    private Workspace,
                    private Keyboard,
                    private Cursors,
                    private Pointer {
  public:
    struct PostedKeyEvent {
        EventTapLocation location;
        KeyboardEvent event;
    };

    SimPlatform();
    ~SimPlatform() override;

    std::string name() const override { return "sim"; }
    EventTaps& eventTaps() override { return eventTaps_; }
    platform::Accessibility& accessibility() override { return *this; }
    platform::Workspace& workspace() override { return *this; }
    Pasteboard& generalPasteboard() override { return pasteboard_; }
    platform::Keyboard& keyboard() override { return *this; }
    platform::Cursors& cursors() override { return *this; }
    platform::Pointer& pointer() override { return *this; }
    Scheduler& mainScheduler() override { return mainScheduler_ ? *mainScheduler_ : scheduler_; }

    // Scripting: the parts.
    SimEventTaps& taps() { return eventTaps_; }
    SimPasteboard& pasteboard() { return pasteboard_; }
    SimScheduler& scheduler() { return scheduler_; }
    // Delayed work goes to `scheduler` instead of the virtual clock (a MainQueueScheduler, for tests that run
    // the real main run loop); null switches back. `scheduler` must outlive the platform's use of it.
    void setMainScheduler(Scheduler* scheduler) { mainScheduler_ = scheduler; }

    // Gestures, delivered to the taps at once.
    void mouseDown(std::uint64_t flags = 0, std::int64_t clickCount = 1);
    void mouseDragged(std::uint64_t flags = 0);
    void mouseUp(std::int64_t clickCount = 1, std::uint64_t flags = 0);
    void mouseMoved();
    void rightMouseDown();
    // Presses and releases `count` times with click counts 1..count, as a double or triple click does.
    void multiClick(int count, std::uint64_t flags = 0);

    // The cursor on show; nullopt when the platform cannot tell.
    void setCursor(std::optional<CursorImage> cursor) {
        cursor_ = std::move(cursor);
        ++cursorSerial_;
    }
    // Off by default: the platform then reports no cursor serial.
    void setReportsCursorSerials(bool reports) { reportsCursorSerials_ = reports; }
    void setStandardIBeams(std::vector<CursorImage> cursors) { iBeams_ = std::move(cursors); }
    int cursorReads() const { return cursorReads_; }

    // Applications.
    std::shared_ptr<SimApplication> addApplication(std::int32_t pid, std::string name);
    // Gone from the desktop: its elements turn defunct.
    void removeApplication(const std::shared_ptr<SimApplication>& application);
    void setFrontmost(std::shared_ptr<SimApplication> application) { frontmost_ = std::move(application); }
    // A new element sharing this desktop's read log.
    std::shared_ptr<SimElement> makeElement(std::string name = "element");
    // Every accessibility read so far, in order.
    const SimElement::ReadLog& accessibilityReads() const { return *readLog_; }
    void clearAccessibilityReads() { readLog_->clear(); }

    // Permission.
    void setTrusted(bool trusted) { trusted_ = trusted; }
    // The prompt flag of each trust check, in order.
    const std::vector<bool>& trustChecks() const { return trustChecks_; }

    void setMouseLocation(Point location) { location_ = location; }

    const std::vector<PostedKeyEvent>& postedKeyEvents() const { return posted_; }
    void clearPostedKeyEvents() { posted_.clear(); }

  private:
    bool isProcessTrustedWithOptions(bool prompt) override;
    std::shared_ptr<AXUIElement> createApplication(const RunningApplication& application) override;
    std::optional<RunningApplication> frontmostApplication() override;
    void postEvent(EventTapLocation location, const KeyboardEvent& event) override;
    std::optional<CursorImage> currentSystemCursor() override;
    std::vector<CursorImage> standardIBeamCursors() override { return iBeams_; }
    std::optional<std::uint64_t> currentCursorSerial() override {
        return reportsCursorSerials_ ? std::optional<std::uint64_t>(cursorSerial_) : std::nullopt;
    }
    Point mouseLocation() override { return location_; }

    void send(EventType type, std::uint64_t flags, std::int64_t clickCount);

    SimEventTaps eventTaps_;
    SimPasteboard pasteboard_;
    SimScheduler scheduler_;
    Scheduler* mainScheduler_ = nullptr;
    std::shared_ptr<SimElement::ReadLog> readLog_ = std::make_shared<SimElement::ReadLog>();
    std::vector<std::shared_ptr<SimApplication>> applications_;
    std::shared_ptr<SimApplication> frontmost_;
    std::optional<CursorImage> cursor_ = SimCursorImages::arrow();
    std::vector<CursorImage> iBeams_{SimCursorImages::iBeam()};
    int cursorReads_ = 0;
    std::uint64_t cursorSerial_ = 1;
    bool reportsCursorSerials_ = false;
    bool trusted_ = false;
    std::vector<bool> trustChecks_;
    Point location_;
    std::vector<PostedKeyEvent> posted_;
};

// The simulated desktop as the process's platform (no application, not trusted, arrow cursor).
std::unique_ptr<SimPlatform> createSimPlatform();

}  // namespace platform::sim
