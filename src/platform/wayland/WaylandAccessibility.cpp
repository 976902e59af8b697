#include "platform/wayland/WaylandAccessibility.h"

#include <chrono>
#include <cstdio>

#include "platform/linux/SelectionElement.h"

namespace platform::wayland {

namespace {

using ::wayland::internal::Selection;

constexpr std::chrono::milliseconds kReadTimeout{500};

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
    return ::linuxdesktop::SelectionElement::application([this](std::string& text) {
        auto selected = atspi_.selectedTextOfActiveApplication();
        if (!selected) {
            if (desktop_.connection().isBroken()) return AXError::CannotComplete;
            if (desktop_.dataControl().isOwn(Selection::Primary)) return AXError::NoValue;
            selected = desktop_.dataControl().readText(Selection::Primary, kReadTimeout);
        }
        if (!selected) return AXError::NoValue;
        text = std::move(*selected);
        return AXError::Success;
    });
}

}  // namespace platform::wayland
