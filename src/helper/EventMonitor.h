#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "dispatch/WorkItem.h"
#include "helper/CursorHelper.h"
#include "helper/PasteboardHelper.h"
#include "helper/TDKeyEvent.h"
#include "platform/Platform.h"

// Watches the user's left-button gestures in every application through a global event tap, decides from
// each finished gesture whether text was just selected (a drag, or a double or triple click, while the I-beam
// showed), reads the selection and, when it is not blank, calls the text-selected handler (the service sends
// the client its "SelectionEvent" from there). Also reads the selection on request (`getSelectedText`: the
// direct accessibility query first, then a simulated copy), and answers the permission and pointer questions.
//
// Main thread only: `start`/`stop` are called from request handlers on the main queue, the tap's callback
// arrives on the main thread, and the delayed steps run from the platform's main scheduler. No locks.
//
// Waiting rules: the direct query asks the frontmost application and waits for its answers; for a drag it
// runs inside the tap's callback. Never call into this object from another thread, and do not block the main
// thread waiting for a completion: completions need the main thread to run.
//
// Lifetime: the shared instance lives until the process ends. A monitor built for a test must outlive nothing
// scheduled on its behalf that captures it (delayed reads are cancelled and announcements dropped when it is
// destroyed); the platform and helpers it was given must outlive it and its pending copy-path steps.
class EventMonitor {
  public:
    // Gets the selected text once: possibly empty, never absent.
    using TextCompletion = std::function<void(const std::string& text)>;

    // The process's monitor on the installed platform and the shared helpers; created once, safely under
    // concurrent first calls.
    static EventMonitor& sharedInstance();

    EventMonitor(platform::Platform& platform, CursorHelper& cursorHelper,
                 PasteboardHelper& pasteboardHelper);
    ~EventMonitor();
    EventMonitor(const EventMonitor&) = delete;
    EventMonitor& operator=(const EventMonitor&) = delete;

    // Called on the main thread whenever a gesture selected non-blank text. The text itself is not passed on:
    // the client asks for it. Without a handler the announcement is dropped.
    void setTextSelectedHandler(std::function<void()> handler) { textSelectedHandler_ = std::move(handler); }

    // Installs the global tap (left mouse down, up, dragged; mouse moved). A tap already installed is removed
    // first, so a second start leaves exactly one tap, enabled again if the platform had disabled it. When
    // the platform refuses the tap, nothing is logged and no events arrive; a later start tries again.
    void start();
    // Removes the tap if one is installed. A pending delayed read still runs.
    void stop();

    // The tap's callback: one event, on the main thread. Never alters or drops the event.
    void eventCallback(platform::EventType type, const platform::InputEvent& event);
    // Evaluates the finished gesture (called at each left mouse-up that found a gesture).
    void triggerTextSelectedEvent();
    // Reads the selection `delay` seconds from now, cancelling a read still pending from an earlier call.
    void getSelectedTextDelay(float delay);

    // Calls `completion` exactly once on the main thread with the selected text: before returning when the
    // direct query answers, otherwise through a simulated copy as soon as the application's copy shows (the
    // user's pasteboard is saved before and restored after the completion has run), or empty when none showed
    // within 50 ms; a copy that comes within a second after that, before the user presses anything, is put
    // back too. A read that starts while a simulated copy is in flight gets that copy's text. Where the copy
    // chord would only be typed (a terminal), empty at once, pasteboard untouched.
    void getSelectedText(TextCompletion completion);
    // The focused element's selected text through the accessibility interface, or nullopt when it yields
    // none.
    std::optional<std::string> getSelectedTextByAX();
    void getSelectedTextBySimulator(TextCompletion completion);

    // With `prompt` the platform may ask the user; returns at once with the current state.
    bool isAccessibilityPermissionGranted(bool prompt);
    // Origin bottom-left of the primary screen, unconverted.
    platform::Point getMouseLocation();

    // State, for diagnostics and tests.
    std::uint32_t latestType() const { return latestType_; }
    bool isTapInstalled() const { return eventTap_ != nullptr; }
    const TDKeyEvent* event() const { return event_.get(); }

  private:
    TextCompletion announcingCompletion();

    platform::Platform& platform_;
    CursorHelper& cursorHelper_;
    PasteboardHelper& pasteboardHelper_;
    std::function<void()> textSelectedHandler_;
    // Expires with the monitor, so late work scheduled on its behalf can tell.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    std::uint32_t latestType_ = 0;
    std::unique_ptr<platform::EventTap> eventTap_;
    platform::InputEvent latestCGEvent_;  // a copy: the platform's event does not outlive the callback
    std::unique_ptr<TDKeyEvent> event_;
    std::shared_ptr<dispatch::WorkItem> block_;
    // The copy-path read in flight. A read that starts meanwhile joins it instead of copying again: its own
    // save would take the first read's copy for the user's pasteboard and restore that last.
    struct CopyRead;
    std::weak_ptr<CopyRead> copyRead_;
};
