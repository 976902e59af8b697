#include "platform/wayland/GnomeAccessibility.h"

#include <cstdio>

namespace platform::wayland {

namespace {

using ::wayland::internal::ShellExtension;

class GnomeFocusedElement : public AXUIElement {
  public:
    explicit GnomeFocusedElement(ShellExtension& extension) : extension_(extension) {}

    AXError copyAttributeValue(std::string_view attribute, AXValue& value) override {
        if (attribute != kAXSelectedTextAttribute) return AXError::AttributeUnsupported;
        auto text = extension_.readText(ShellExtension::Selection::Primary);
        if (!text) return AXError::NoValue;
        value = *text;
        return AXError::Success;
    }
    AXError copyParameterizedAttributeValue(std::string_view, const AXValue&, AXValue&) override {
        return AXError::ParameterizedAttributeUnsupported;
    }

  private:
    ShellExtension& extension_;
};

class GnomeApplicationElement : public AXUIElement {
  public:
    explicit GnomeApplicationElement(ShellExtension& extension) : extension_(extension) {}

    AXError copyAttributeValue(std::string_view attribute, AXValue& value) override {
        if (attribute != kAXFocusedUIElementAttribute) return AXError::AttributeUnsupported;
        value = std::shared_ptr<AXUIElement>(std::make_shared<GnomeFocusedElement>(extension_));
        return AXError::Success;
    }
    AXError copyParameterizedAttributeValue(std::string_view, const AXValue&, AXValue&) override {
        return AXError::ParameterizedAttributeUnsupported;
    }

  private:
    ShellExtension& extension_;
};

}  // namespace

bool GnomeAccessibility::isProcessTrustedWithOptions(bool prompt) {
    const bool trusted = extension_.extensionEnabled();
    if (prompt && !trusted && !toldMissing_) {
        std::fprintf(
            stderr,
            "GnomeAccessibility: the helper's GNOME Shell extension is not enabled; enable it with "
            "`gnome-extensions enable %s` (after installing it, log out and in once so that the shell "
            "finds it)\n",
            ShellExtension::kUuid);
        toldMissing_ = true;
    }
    if (trusted) toldMissing_ = false;
    return trusted;
}

std::shared_ptr<AXUIElement> GnomeAccessibility::createApplication(const RunningApplication&) {
    return std::make_shared<GnomeApplicationElement>(extension_);
}

}  // namespace platform::wayland
