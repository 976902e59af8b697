#include "platform/x11/X11Platform.h"

#include "platform/MainQueueScheduler.h"
#include "platform/x11/X11Accessibility.h"
#include "platform/x11/X11Cursors.h"
#include "platform/x11/X11EventTaps.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11Pointer.h"
#include "platform/x11/X11Workspace.h"

namespace platform::x11 {

namespace {

class X11Platform : public Platform {
  public:
    explicit X11Platform(std::unique_ptr<::x11::internal::X11Desktop> desktop)
        : desktop_(std::move(desktop)),
          eventTaps_(*desktop_),
          accessibility_(*desktop_),
          workspace_(*desktop_),
          pasteboard_(*desktop_),
          keyboard_(*desktop_, pasteboard_),
          cursors_(*desktop_),
          pointer_(*desktop_) {
        desktop_->settle();
    }

    std::string name() const override { return "x11"; }
    EventTaps& eventTaps() override { return eventTaps_; }
    Accessibility& accessibility() override { return accessibility_; }
    Workspace& workspace() override { return workspace_; }
    Pasteboard& generalPasteboard() override { return pasteboard_; }
    Keyboard& keyboard() override { return keyboard_; }
    Cursors& cursors() override { return cursors_; }
    Pointer& pointer() override { return pointer_; }
    Scheduler& mainScheduler() override { return scheduler_; }

  private:
    std::unique_ptr<::x11::internal::X11Desktop> desktop_;
    X11EventTaps eventTaps_;
    X11Accessibility accessibility_;
    X11Workspace workspace_;
    X11Pasteboard pasteboard_;
    X11Keyboard keyboard_;
    X11Cursors cursors_;
    X11Pointer pointer_;
    MainQueueScheduler scheduler_;
};

}  // namespace

std::unique_ptr<Platform> createX11Platform(const std::string& display, std::string* why) {
    auto desktop = ::x11::internal::X11Desktop::open(display, why);
    if (!desktop) return nullptr;
    return std::make_unique<X11Platform>(std::move(desktop));
}

}  // namespace platform::x11
