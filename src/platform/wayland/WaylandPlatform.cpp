#include "platform/wayland/WaylandPlatform.h"

#include "platform/MainQueueScheduler.h"
#include "platform/wayland/WaylandAccessibility.h"
#include "platform/wayland/WaylandCursors.h"
#include "platform/wayland/WaylandEventTaps.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandPointer.h"
#include "platform/wayland/WaylandWorkspace.h"

namespace platform::wayland {

namespace {

class WaylandPlatform : public Platform {
  public:
    explicit WaylandPlatform(std::unique_ptr<::wayland::internal::WaylandDesktop> desktop)
        : desktop_(std::move(desktop)),
          eventTaps_(*desktop_, scheduler_),
          accessibility_(*desktop_),
          workspace_(*desktop_),
          pasteboard_(*desktop_),
          keyboard_(*desktop_, pasteboard_),
          pointer_(*desktop_) {}

    std::string name() const override { return "wayland"; }
    EventTaps& eventTaps() override { return eventTaps_; }
    Accessibility& accessibility() override { return accessibility_; }
    Workspace& workspace() override { return workspace_; }
    Pasteboard& generalPasteboard() override { return pasteboard_; }
    Keyboard& keyboard() override { return keyboard_; }
    Cursors& cursors() override { return cursors_; }
    Pointer& pointer() override { return pointer_; }
    Scheduler& mainScheduler() override { return scheduler_; }

  private:
    std::unique_ptr<::wayland::internal::WaylandDesktop> desktop_;
    MainQueueScheduler scheduler_;
    WaylandEventTaps eventTaps_;
    WaylandAccessibility accessibility_;
    WaylandWorkspace workspace_;
    WaylandPasteboard pasteboard_;
    WaylandKeyboard keyboard_;
    WaylandCursors cursors_;
    WaylandPointer pointer_;
};

}  // namespace

std::unique_ptr<Platform> createWaylandPlatform(const std::string& display, std::string* why) {
    auto desktop = ::wayland::internal::WaylandDesktop::open(display, why);
    if (!desktop) return nullptr;
    if (why)
        *why = desktop->connection().isKWin() ? "KWin offers data control"
                                              : "the compositor offers data control";
    return std::make_unique<WaylandPlatform>(std::move(desktop));
}

}  // namespace platform::wayland
