#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "dispatch/RunLoop.h"
#include "platform/wayland/internal/Connection.h"
#include "platform/wayland/internal/DataControl.h"
#include "platform/wayland/internal/ForeignToplevels.h"
#include "platform/wayland/internal/VirtualKeyboard.h"

namespace wayland::internal {

// What the Wayland facilities share: one connection to the compositor, watched on the main run loop (so the
// selections this process serves are answered and new offers are seen whenever the compositor sends
// something), data control, and the virtual keyboard and the list of top-level windows where the compositor
// offers them.
//
// Main thread only.
class WaylandDesktop {
  public:
    // Null when no compositor answers or it offers no data control (`why` says which).
    static std::unique_ptr<WaylandDesktop> open(const std::string& display, std::string* why);
    ~WaylandDesktop();

    Connection& connection() { return *connection_; }
    DataControl& dataControl() { return *dataControl_; }
    // Null where the compositor offers no virtual keyboard; `keyboardMissing` says why.
    VirtualKeyboard* keyboard() { return keyboard_.get(); }
    const std::string& keyboardMissing() const { return keyboardMissing_; }
    // Null where the compositor does not list its windows.
    ForeignToplevels* toplevels() { return toplevels_.get(); }
    // Whether the activated window is a terminal, by its app id; nothing when the compositor does not tell or
    // no window is activated.
    std::optional<bool> frontmostIsTerminal() const;
    // What the compositor lacks and which features that costs, in one sentence; empty when nothing is
    // missing.
    std::string missingFeatures() const;
    // `handler` runs once, on the main run loop, when the connection to the compositor is found lost (said
    // once on standard error). The returned id removes it; a handler may remove itself or others while it
    // runs.
    int addLostHandler(std::function<void()> handler);
    void removeLostHandler(int id) { lostHandlers_.erase(id); }

  private:
    WaylandDesktop() = default;
    std::unique_ptr<Connection> connection_;
    std::unique_ptr<DataControl> dataControl_;
    std::unique_ptr<VirtualKeyboard> keyboard_;
    std::string keyboardMissing_;
    std::unique_ptr<ForeignToplevels> toplevels_;
    void connectionLost();

    std::unique_ptr<dispatch::RunLoop::Watch> watch_;
    std::map<int, std::function<void()>> lostHandlers_;
    int nextLostHandler_ = 1;
};

}  // namespace wayland::internal
