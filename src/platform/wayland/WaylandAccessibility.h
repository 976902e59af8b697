#pragma once

#include <memory>

#include "platform/Accessibility.h"
#include "platform/wayland/internal/WaylandDesktop.h"

namespace platform::wayland {

// Accessibility on Wayland. Trust means data control is offered (the selection signal, reading and the
// clipboard need nothing else); with `prompt`, what the compositor lacks and what that costs is said once on
// standard error. An application element's focused element answers "AXSelectedText" with PRIMARY read through
// data control (bounded), since a Wayland client cannot tell which application has the focus; PRIMARY that
// this process serves (text it inserted) is not the user's selection and gives no value, so the caller falls
// back to a copy.
//
// Reads block on PRIMARY's owner (bounded). Main thread only.
class WaylandAccessibility : public Accessibility {
  public:
    explicit WaylandAccessibility(::wayland::internal::WaylandDesktop& desktop) : desktop_(desktop) {}
    bool isProcessTrustedWithOptions(bool prompt) override;
    std::shared_ptr<AXUIElement> createApplication(const RunningApplication& application) override;

  private:
    ::wayland::internal::WaylandDesktop& desktop_;
    bool toldMissing_ = false;
};

}  // namespace platform::wayland
