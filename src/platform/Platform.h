#pragma once

#include <memory>
#include <string>

#include "platform/Accessibility.h"
#include "platform/Cursors.h"
#include "platform/EventTap.h"
#include "platform/Keyboard.h"
#include "platform/Pasteboard.h"
#include "platform/Pointer.h"
#include "platform/Scheduler.h"
#include "platform/Workspace.h"

namespace platform {

// Everything the service needs from the desktop, one object per facility. Backends: `createSimPlatform()`
// (platform/sim/SimPlatform.h) and the real desktop's own factory.
//
// The getters return borrowed objects that live as long as the platform. Every facility is used on the main
// thread only, and callbacks (event taps, scheduled work) arrive there.
//
// The process's platform is installed once, before any service object is created, with `setCurrent`; the
// service's singletons take theirs from `current()`. Tests build their own platform and pass it explicitly.
class Platform {
  public:
    virtual ~Platform() = default;

    // A short name for log lines ("sim", ...).
    virtual std::string name() const = 0;
    virtual EventTaps& eventTaps() = 0;
    virtual Accessibility& accessibility() = 0;
    virtual Workspace& workspace() = 0;
    virtual Pasteboard& generalPasteboard() = 0;
    virtual Keyboard& keyboard() = 0;
    virtual Cursors& cursors() = 0;
    virtual Pointer& pointer() = 0;
    virtual Scheduler& mainScheduler() = 0;

    // Installs the process's platform; it then lives until the process ends. A second call is refused
    // (returns false): singletons already hold references into the first.
    static bool setCurrent(std::unique_ptr<Platform> platform);
    // The installed platform. Calling it before `setCurrent` is a programming error: it prints why and
    // aborts.
    static Platform& current();
    static bool hasCurrent();
};

}  // namespace platform
