#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/PasteboardItem.h"
#include "platform/Scheduler.h"
#include "platform/Workspace.h"
#include "platform/sim/SimElement.h"

namespace platform::sim {

class SimPasteboard;

// A scripted application on the simulated desktop: its accessibility element (which answers
// "AXFocusedUIElement" with the focused element set here), and how it reacts to the copy and paste chords
// when it is frontmost. Single-threaded.
class SimApplication {
  public:
    enum class CopyReaction {
        Immediately,  // copies while the key stroke is delivered
        Late,         // copies `lateBy` after the key stroke (on the desktop's main scheduler)
        Never,        // ignores the key stroke
    };

    SimApplication(std::int32_t pid, std::string name, std::shared_ptr<SimElement::ReadLog> log);

    RunningApplication running() const { return {pid_, name_, static_cast<std::uint64_t>(pid_)}; }
    std::int32_t pid() const { return pid_; }
    const std::shared_ptr<SimElement>& applicationElement() const { return applicationElement_; }

    // Null: "AXFocusedUIElement" answers NoValue.
    void setFocusedElement(std::shared_ptr<SimElement> element);
    void setFocusedElementError(AXError error);

    // What the application puts on the pasteboard when it copies: by default one item with the selection as
    // plain text.
    void setSelection(std::string text);
    void setCopiedItems(std::vector<PasteboardItem> items) { copiedItems_ = std::move(items); }
    void setCopyReaction(CopyReaction reaction,
                         std::chrono::nanoseconds lateBy = std::chrono::milliseconds(80));

    int copyKeyStrokes() const { return copyKeyStrokes_; }
    // The plain text found on the pasteboard at each paste chord (nullopt when there was none).
    const std::vector<std::optional<std::string>>& pastes() const { return pastes_; }

    // Called by the simulated keyboard when the chord reaches this application.
    void receiveCopy(SimPasteboard& pasteboard, Scheduler& scheduler);
    void receivePaste(SimPasteboard& pasteboard);

  private:
    std::int32_t pid_;
    std::string name_;
    std::shared_ptr<SimElement> applicationElement_;
    std::vector<PasteboardItem> copiedItems_;
    CopyReaction reaction_ = CopyReaction::Never;
    std::chrono::nanoseconds lateBy_{0};
    int copyKeyStrokes_ = 0;
    std::vector<std::optional<std::string>> pastes_;
};

}  // namespace platform::sim
