#pragma once

#include <memory>

#include "platform/Accessibility.h"
#include "platform/wayland/internal/ShellExtension.h"

namespace platform::wayland {

// Accessibility on GNOME Shell. Trust means the helper's Shell extension is enabled (everything goes through
// it); with `prompt` and the extension missing, how to enable it is said once on standard error (again after
// it was enabled and lost). An application element's focused element answers "AXSelectedText" with PRIMARY
// read through the extension (bounded); PRIMARY the extension set for a paste is not offered.
//
// Reads block on PRIMARY's owner (bounded). Main thread only.
class GnomeAccessibility : public Accessibility {
  public:
    explicit GnomeAccessibility(::wayland::internal::ShellExtension& extension) : extension_(extension) {}
    bool isProcessTrustedWithOptions(bool prompt) override;
    std::shared_ptr<AXUIElement> createApplication(const RunningApplication& application) override;

  private:
    ::wayland::internal::ShellExtension& extension_;
    bool toldMissing_ = false;
};

}  // namespace platform::wayland
