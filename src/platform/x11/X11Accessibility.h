#pragma once

#include <memory>

#include "platform/Accessibility.h"
#include "platform/linux/AtspiSelection.h"
#include "platform/x11/internal/X11Desktop.h"

namespace platform::x11 {

// Accessibility on X11. Trust means the session allows global input monitoring and synthesis: the display
// answers and has RECORD (or XInput 2), XTEST and XFixes. An application element's focused element answers
// "AXSelectedText" first through the accessibility bus where one runs (the application's focused object's
// text selection; the empty text for a password field, so no copy key stroke is ever sent for it), else with
// the PRIMARY selection, but only when PRIMARY's owner belongs to the same X client as the application's
// window (otherwise the selection is someone else's and the read fails, so the caller falls back to a
// simulated copy). After a left-button press the read first waits, bounded to about 100 ms, for the owner to
// announce its new selection (owners set it while handling the release).
//
// Reads block on the owning application (bounded). Main thread only.
class X11Accessibility : public Accessibility {
  public:
    explicit X11Accessibility(::x11::internal::X11Desktop& desktop,
                              ::linuxdesktop::AtspiSelection::Options atspi =
                                  ::linuxdesktop::AtspiSelection::optionsFromEnvironment());
    bool isProcessTrustedWithOptions(bool prompt) override;
    std::shared_ptr<AXUIElement> createApplication(const RunningApplication& application) override;

  private:
    ::x11::internal::X11Desktop& desktop_;
    ::linuxdesktop::AtspiSelection atspi_;
};

}  // namespace platform::x11
