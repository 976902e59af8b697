#pragma once

#include <memory>

#include "platform/Accessibility.h"
#include "platform/linux/AtspiSelection.h"
#include "platform/wayland/internal/WaylandDesktop.h"

namespace platform::wayland {

// Accessibility on Wayland. Trust means data control is offered (the selection signal, reading and the
// clipboard need nothing else); with `prompt`, what the compositor lacks and what that costs is said once on
// standard error. An application element's focused element answers "AXSelectedText" first through the
// accessibility bus where one runs (the focused object of the application whose window is active, since
// Wayland gives no process identifier; the empty text for a password field), else with PRIMARY read through
// data control (bounded). PRIMARY that this process serves (text it inserted) is not the user's selection and
// gives no value, so the caller falls back to a copy.
//
// Reads block on PRIMARY's owner (bounded). Main thread only.
class WaylandAccessibility : public Accessibility {
  public:
    explicit WaylandAccessibility(::wayland::internal::WaylandDesktop& desktop,
                                  ::linuxdesktop::AtspiSelection::Options atspi =
                                      ::linuxdesktop::AtspiSelection::optionsFromEnvironment())
        : desktop_(desktop), atspi_(std::move(atspi)) {}
    bool isProcessTrustedWithOptions(bool prompt) override;
    std::shared_ptr<AXUIElement> createApplication(const RunningApplication& application) override;

  private:
    ::wayland::internal::WaylandDesktop& desktop_;
    ::linuxdesktop::AtspiSelection atspi_;
    bool toldMissing_ = false;
};

}  // namespace platform::wayland
