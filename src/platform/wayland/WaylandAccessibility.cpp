#include "platform/wayland/WaylandAccessibility.h"

#include <chrono>
#include <cstdio>

namespace platform::wayland {

namespace {

using ::linuxdesktop::AtspiSelection;
using ::wayland::internal::Selection;
using ::wayland::internal::WaylandDesktop;

constexpr std::chrono::milliseconds kReadTimeout{500};

class WaylandFocusedElement : public AXUIElement {
  public:
    WaylandFocusedElement(WaylandDesktop& desktop, AtspiSelection& atspi)
        : desktop_(desktop), atspi_(atspi) {}

    AXError copyAttributeValue(std::string_view attribute, AXValue& value) override {
        if (attribute != kAXSelectedTextAttribute) return AXError::AttributeUnsupported;
        auto text = atspi_.selectedTextOfActiveApplication();
        if (!text) {
            if (desktop_.connection().isBroken()) return AXError::CannotComplete;
            if (desktop_.dataControl().isOwn(Selection::Primary)) return AXError::NoValue;
            text = desktop_.dataControl().readText(Selection::Primary, kReadTimeout);
        }
        if (!text) return AXError::NoValue;
        value = *text;
        return AXError::Success;
    }
    AXError copyParameterizedAttributeValue(std::string_view, const AXValue&, AXValue&) override {
        return AXError::ParameterizedAttributeUnsupported;
    }

  private:
    WaylandDesktop& desktop_;
    AtspiSelection& atspi_;
};

class WaylandApplicationElement : public AXUIElement {
  public:
    WaylandApplicationElement(WaylandDesktop& desktop, AtspiSelection& atspi)
        : desktop_(desktop), atspi_(atspi) {}

    AXError copyAttributeValue(std::string_view attribute, AXValue& value) override {
        if (attribute != kAXFocusedUIElementAttribute) return AXError::AttributeUnsupported;
        value = std::shared_ptr<AXUIElement>(std::make_shared<WaylandFocusedElement>(desktop_, atspi_));
        return AXError::Success;
    }
    AXError copyParameterizedAttributeValue(std::string_view, const AXValue&, AXValue&) override {
        return AXError::ParameterizedAttributeUnsupported;
    }

  private:
    WaylandDesktop& desktop_;
    AtspiSelection& atspi_;
};

}  // namespace

bool WaylandAccessibility::isProcessTrustedWithOptions(bool prompt) {
    const bool trusted = !desktop_.connection().isBroken();
    if (prompt && !toldMissing_) {
        const std::string missing = desktop_.missingFeatures();
        if (!trusted)
            std::fprintf(stderr, "WaylandAccessibility: the compositor connection is lost\n");
        else if (!missing.empty())
            std::fprintf(stderr, "WaylandAccessibility: %s\n", missing.c_str());
        toldMissing_ = trusted;
    }
    return trusted;
}

std::shared_ptr<AXUIElement> WaylandAccessibility::createApplication(const RunningApplication&) {
    return std::make_shared<WaylandApplicationElement>(desktop_, atspi_);
}

}  // namespace platform::wayland
