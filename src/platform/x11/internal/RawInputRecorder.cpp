#include "platform/x11/internal/RawInputRecorder.h"

#include <X11/extensions/XInput2.h>

namespace x11::internal {

std::unique_ptr<RawInputRecorder> RawInputRecorder::start(const std::string& display, Callback callback,
                                                          std::string* why) {
    auto recorder = std::unique_ptr<RawInputRecorder>(new RawInputRecorder());
    recorder->callback_ = std::move(callback);
    recorder->connection_ = Connection::open(display, why);
    if (!recorder->connection_) return nullptr;
    ::Display* dpy = recorder->connection_->get();
    int event = 0, error = 0;
    int major = 2, minor = 0;
    if (!XQueryExtension(dpy, "XInputExtension", &recorder->opcode_, &event, &error) ||
        XIQueryVersion(dpy, &major, &minor) != Success) {
        if (why) *why = "the display has neither RECORD nor XInputExtension 2";
        return nullptr;
    }
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(dpy, recorder->connection_->root(), &mask, 1);
    XSync(dpy, False);
    return recorder;
}

void RawInputRecorder::process() {
    ::Display* dpy = connection_->get();
    while (!connection_->isBroken() && XPending(dpy) > 0) {
        XEvent event;
        XNextEvent(dpy, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != opcode_ || !XGetEventData(dpy, cookie))
            continue;
        const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
        RawInput input;
        switch (cookie->evtype) {
            case XI_RawButtonPress:
                input.type = RawInput::Type::Press;
                break;
            case XI_RawButtonRelease:
                input.type = RawInput::Type::Release;
                break;
            default:
                input.type = RawInput::Type::Motion;
                break;
        }
        input.button = input.type == RawInput::Type::Motion ? 0 : static_cast<unsigned>(raw->detail);
        input.time = static_cast<uint32_t>(raw->time);
        XFreeEventData(dpy, cookie);
        ::Window root = None, child = None;
        int winX = 0, winY = 0;
        unsigned state = 0;
        XQueryPointer(dpy, connection_->root(), &root, &child, &input.x, &input.y, &winX, &winY, &state);
        // The queried state already includes this event's button; the recorded one is the state before it.
        unsigned bit = input.button >= 1 && input.button <= 5 ? (Button1Mask << (input.button - 1)) : 0;
        if (input.type == RawInput::Type::Press) state &= ~bit;
        if (input.type == RawInput::Type::Release) state |= bit;
        input.state = state;
        if (callback_) callback_(input);
    }
}

}  // namespace x11::internal
