#include "platform/x11/internal/UserPressWatcher.h"

#include <X11/extensions/XInput2.h>

namespace x11::internal {

UserPressWatcher::UserPressWatcher(Connection& connection, std::function<void()> onPress)
    : connection_(connection), onPress_(std::move(onPress)) {
    int event = 0, error = 0, major = 2, minor = 0;
    if (!XQueryExtension(connection_.get(), "XInputExtension", &opcode_, &event, &error) ||
        XIQueryVersion(connection_.get(), &major, &minor) != Success) {
        opcode_ = -1;
        return;
    }
    handler_ = connection_.addHandler([this](XEvent& event) {
        const XGenericEventCookie& cookie = event.xcookie;
        if (cookie.type != GenericEvent || cookie.extension != opcode_) return false;
        if (cookie.evtype != XI_RawKeyPress && cookie.evtype != XI_RawButtonPress) return false;
        if (on_ && onPress_) onPress_();
        return true;
    });
}

UserPressWatcher::~UserPressWatcher() {
    if (!handler_) return;
    setOn(false);
    connection_.removeHandler(handler_);
}

void UserPressWatcher::setOn(bool on) {
    if (opcode_ < 0 || on == on_ || connection_.isBroken()) return;
    on_ = on;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) {
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawButtonPress);
    }
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(connection_.get(), connection_.root(), &mask, 1);
    XFlush(connection_.get());
}

}  // namespace x11::internal
