#include "platform/x11/X11Workspace.h"

#include "platform/x11/internal/WindowQueries.h"

namespace platform::x11 {

using ::x11::internal::WindowQueries;

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
    auto& c = desktop_.connection();
    ::Window window = desktop_.frontmost().choose();
    std::optional<RunningApplication> out;
    if (window != None) {
        RunningApplication app;
        app.nativeHandle = window;
        app.processIdentifier = WindowQueries::pidOf(c, window).value_or(0);
        if (auto cls = WindowQueries::classOf(c, window)) app.localizedName = cls->className;
        out = app;
    }
    desktop_.settle();
    return out;
}

}  // namespace platform::x11
