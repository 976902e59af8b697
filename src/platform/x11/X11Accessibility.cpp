#include "platform/x11/X11Accessibility.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstdio>

#include "platform/x11/internal/WindowQueries.h"

// Xlib's status macro would hide AXError::Success; this file makes no Xlib status checks.
#undef Success

namespace platform::x11 {

namespace {

using namespace std::chrono_literals;
using ::linuxdesktop::AtspiSelection;
using ::x11::internal::WindowQueries;
using ::x11::internal::X11Desktop;

// How long after the latest press or release an owner may still take PRIMARY for the gesture. A terminal
// (which cannot be read any other way) gets the long wait; elsewhere a miss only costs the copy path, which
// still reads the text, so the wait stays short: owners take PRIMARY while handling the release, within a few
// milliseconds even on a loaded machine (see helper_latency_bench).
constexpr auto kOwnerWait = 100ms;
constexpr auto kOwnerWaitBeforeCopy = 25ms;
constexpr auto kReadTimeout = 300ms;

// The element with the keyboard focus inside one application window.
class X11FocusedElement : public AXUIElement {
  public:
    X11FocusedElement(X11Desktop& desktop, AtspiSelection& atspi, ::Window window, pid_t pid)
        : desktop_(desktop), atspi_(atspi), window_(window), pid_(pid) {}

    AXError copyAttributeValue(std::string_view attribute, AXValue& value) override {
        if (attribute != kAXSelectedTextAttribute) return AXError::AttributeUnsupported;
        auto text = atspi_.selectedText(pid_);
        if (!text) text = primarySelection();
        desktop_.settle();
        if (!text) return AXError::NoValue;
        value = *text;
        return AXError::Success;
    }
    AXError copyParameterizedAttributeValue(std::string_view, const AXValue&, AXValue&) override {
        return AXError::ParameterizedAttributeUnsupported;
    }

  private:
    std::optional<std::string> primarySelection() {
        auto& c = desktop_.connection();
        // After a press, PRIMARY is the user's selection only when an owner took it since: a gesture that
        // selected nothing leaves the previous owner with older text. Owners take it while handling the
        // release, so wait for that, but only until the wait above has passed since the latest press or
        // release: a read long after the gesture (a client's request, an application that never exports
        // PRIMARY) does not wait.
        if (auto press = desktop_.lastLeftDown()) {
            auto windowClass = WindowQueries::classOf(c, window_);
            const auto wait =
                windowClass && WindowQueries::isTerminal(*windowClass) ? kOwnerWait : kOwnerWaitBeforeCopy;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                desktop_.lastLeftButtonAt() + wait - std::chrono::steady_clock::now());
            if (!desktop_.owners().waitForOwnerSince(XA_PRIMARY, *press, std::max(left, 0ms)))
                return std::nullopt;
        }
        ::Window owner = XGetSelectionOwner(c.get(), XA_PRIMARY);
        if (owner == None || owner == desktop_.primary().window()) return std::nullopt;
        if (!WindowQueries::sameClient(c, owner, window_)) return std::nullopt;
        return desktop_.reader().readText(XA_PRIMARY, kReadTimeout);
    }

    X11Desktop& desktop_;
    AtspiSelection& atspi_;
    ::Window window_;
    pid_t pid_;
};

class X11ApplicationElement : public AXUIElement {
  public:
    X11ApplicationElement(X11Desktop& desktop, AtspiSelection& atspi, const RunningApplication& application)
        : desktop_(desktop),
          atspi_(atspi),
          window_(static_cast<::Window>(application.nativeHandle)),
          pid_(application.processIdentifier) {}

    AXError copyAttributeValue(std::string_view attribute, AXValue& value) override {
        if (attribute != kAXFocusedUIElementAttribute) return AXError::AttributeUnsupported;
        if (window_ == None) return AXError::InvalidUIElement;
        value = std::shared_ptr<AXUIElement>(
            std::make_shared<X11FocusedElement>(desktop_, atspi_, window_, pid_));
        return AXError::Success;
    }
    AXError copyParameterizedAttributeValue(std::string_view, const AXValue&, AXValue&) override {
        return AXError::ParameterizedAttributeUnsupported;
    }

  private:
    X11Desktop& desktop_;
    AtspiSelection& atspi_;
    ::Window window_;
    pid_t pid_;
};

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
    return std::make_shared<X11ApplicationElement>(desktop_, atspi_, application);
}

}  // namespace platform::x11
