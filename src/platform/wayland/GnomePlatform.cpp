#include "platform/wayland/GnomePlatform.h"

#include <cstdlib>

#include "platform/MainQueueScheduler.h"
#include "platform/wayland/GnomeAccessibility.h"
#include "platform/wayland/GnomeEventTaps.h"
#include "platform/wayland/GnomeKeyboard.h"
#include "platform/wayland/GnomePasteboard.h"
#include "platform/wayland/GnomePointer.h"
#include "platform/wayland/WaylandCursors.h"

namespace platform::wayland {

namespace {

using ::wayland::internal::ShellExtension;
using ::wayland::internal::X11ClipboardOwner;

// GNOME tells clients nothing about windows: the frontmost application is an anonymous one standing for
// whichever has the keyboard focus, which the extension answers for.
class GnomeWorkspace : public Workspace {
  public:
    std::optional<RunningApplication> frontmostApplication() override { return RunningApplication{}; }
};

class GnomePlatform : public Platform {
  public:
    GnomePlatform(std::unique_ptr<ShellExtension> extension, std::unique_ptr<X11ClipboardOwner> x11Owner)
        : extension_(std::move(extension)),
          eventTaps_(*extension_),
          accessibility_(*extension_),
          pasteboard_(*extension_, std::move(x11Owner)),
          keyboard_(*extension_),
          pointer_(*extension_) {}

    std::string name() const override { return "gnome"; }
    EventTaps& eventTaps() override { return eventTaps_; }
    Accessibility& accessibility() override { return accessibility_; }
    Workspace& workspace() override { return workspace_; }
    Pasteboard& generalPasteboard() override { return pasteboard_; }
    Keyboard& keyboard() override { return keyboard_; }
    Cursors& cursors() override { return cursors_; }
    Pointer& pointer() override { return pointer_; }
    Scheduler& mainScheduler() override { return scheduler_; }

  private:
    std::unique_ptr<ShellExtension> extension_;
    MainQueueScheduler scheduler_;
    GnomeEventTaps eventTaps_;
    GnomeAccessibility accessibility_;
    GnomeWorkspace workspace_;
    GnomePasteboard pasteboard_;
    GnomeKeyboard keyboard_;
    WaylandCursors cursors_;
    GnomePointer pointer_;
};

}  // namespace

std::unique_ptr<Platform> createGnomePlatform(std::string* why) {
    std::string failure;
    auto extension = ShellExtension::connect(&failure);
    if (!extension) {
        if (why) *why = failure;
        return nullptr;
    }
    const bool enabled = extension->extensionEnabled();
    if (!enabled && !extension->shellRunning()) {
        if (why) *why = "GNOME Shell is not on the session bus";
        return nullptr;
    }
    std::string found = std::string("GNOME Shell is on the session bus with the extension ") +
                        ShellExtension::kUuid + (enabled ? " enabled" : " not enabled");
    std::unique_ptr<X11ClipboardOwner> x11Owner;
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
        std::string x11Failure;
        x11Owner = X11ClipboardOwner::open(display, &x11Failure);
        found += x11Owner ? std::string("; clipboard restores keep every type through Xwayland (DISPLAY=") +
                                display + ")"
                          : "; clipboard restores keep only text: " + x11Failure;
    } else {
        found += "; clipboard restores keep only text: DISPLAY is not set (no Xwayland)";
    }
    if (why) *why = found;
    return std::make_unique<GnomePlatform>(std::move(extension), std::move(x11Owner));
}

}  // namespace platform::wayland
