#include "platform/x11/X11Accessibility.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstdio>

#include "platform/linux/SelectionElement.h"
#include "platform/x11/internal/WindowQueries.h"

// Xlib's status macro would hide AXError::Success; this file makes no Xlib status checks.
#undef Success

namespace platform::x11 {

namespace {

using namespace std::chrono_literals;
using ::linuxdesktop::AtspiSelection;
using ::linuxdesktop::SelectionElement;
using ::x11::internal::WindowQueries;
using ::x11::internal::X11Desktop;

// How long after the latest press or release an owner may still take PRIMARY for the gesture. A terminal
// (which cannot be read any other way) gets the long wait; elsewhere a miss only costs the copy path, which
// still reads the text, so the wait stays short: owners take PRIMARY while handling the release, within a few
// milliseconds even on a loaded machine (see helper_latency_bench).
constexpr auto kOwnerWait = 100ms;
constexpr auto kOwnerWaitBeforeCopy = 25ms;
constexpr auto kReadTimeout = 300ms;

// PRIMARY, when its owner is the same X client as the application's `window`.
std::optional<std::string> primarySelection(X11Desktop& desktop, ::Window window) {
    auto& c = desktop.connection();
    // After a press, PRIMARY is the user's selection only when an owner took it since: a gesture that
    // selected nothing leaves the previous owner with older text. Owners take it while handling the
    // release, so wait for that, but only until the wait above has passed since the latest press or
    // release: a read long after the gesture (a client's request, an application that never exports
    // PRIMARY) does not wait.
    if (auto press = desktop.lastLeftDown()) {
        auto windowClass = WindowQueries::classOf(c, window);
        const auto wait =
            windowClass && WindowQueries::isTerminal(*windowClass) ? kOwnerWait : kOwnerWaitBeforeCopy;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(desktop.lastLeftButtonAt() + wait -
                                                                          std::chrono::steady_clock::now());
        if (!desktop.owners().waitForOwnerSince(XA_PRIMARY, *press, std::max(left, 0ms))) return std::nullopt;
    }
    ::Window owner = XGetSelectionOwner(c.get(), XA_PRIMARY);
    if (owner == None || owner == desktop.primary().window()) return std::nullopt;
    if (!WindowQueries::sameClient(c, owner, window)) return std::nullopt;
    return desktop.reader().readText(XA_PRIMARY, kReadTimeout);
}

}  // namespace

X11Accessibility::X11Accessibility(X11Desktop& desktop, AtspiSelection::Options atspi)
    : desktop_(desktop),
      atspi_(std::move(atspi), [&desktop] { return WindowQueries::atspiBusAddress(desktop.connection()); }) {}

bool X11Accessibility::isProcessTrustedWithOptions(bool prompt) {
    const auto& caps = desktop_.capabilities();
    bool trusted = caps.sufficient() && !desktop_.connection().isBroken();
    if (!trusted && prompt) {
        std::string missing = desktop_.connection().isBroken() ? "the display connection" : caps.missing();
        std::fprintf(
            stderr, "X11Accessibility: global input monitoring and synthesis unavailable on %s: missing %s\n",
            desktop_.displayName().c_str(), missing.c_str());
    }
    return trusted;
}

std::shared_ptr<AXUIElement> X11Accessibility::createApplication(const RunningApplication& application) {
    const auto window = static_cast<::Window>(application.nativeHandle);
    if (window == None) return SelectionElement::application(nullptr);
    return SelectionElement::application(
        [this, window, pid = application.processIdentifier](std::string& text) {
            auto selected = atspi_.selectedText(pid);
            if (!selected) selected = primarySelection(desktop_, window);
            desktop_.settle();
            if (!selected) return AXError::NoValue;
            text = std::move(*selected);
            return AXError::Success;
        });
}

}  // namespace platform::x11
