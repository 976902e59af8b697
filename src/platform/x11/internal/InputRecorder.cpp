#include "platform/x11/internal/InputRecorder.h"

#include <X11/Xproto.h>
#include <X11/extensions/record.h>
#include <poll.h>

namespace x11::internal {

std::unique_ptr<InputRecorder> InputRecorder::start(const std::string& display, Callback callback,
                                                    std::string* why) {
    auto recorder = std::unique_ptr<InputRecorder>(new InputRecorder());
    recorder->callback_ = std::move(callback);
    recorder->control_ = Connection::open(display, why);
    if (!recorder->control_) return nullptr;
    recorder->data_ = Connection::open(display, why);
    if (!recorder->data_) return nullptr;
    ::Display* ctrl = recorder->control_->get();
    int major = 0, minor = 0;
    if (!XRecordQueryVersion(ctrl, &major, &minor)) {
        if (why) *why = "the display has no RECORD extension";
        return nullptr;
    }
    XRecordRange* range = XRecordAllocRange();
    if (!range) return nullptr;
    range->device_events.first = ButtonPress;
    range->device_events.last = MotionNotify;
    XRecordClientSpec clients = XRecordAllClients;
    recorder->context_ = XRecordCreateContext(ctrl, 0, &clients, 1, &range, 1);
    XFree(range);
    XSync(ctrl, False);
    if (!recorder->context_) {
        if (why) *why = "cannot create a RECORD context";
        return nullptr;
    }
    if (!XRecordEnableContextAsync(recorder->data_->get(), recorder->context_, &InputRecorder::onRecord,
                                   reinterpret_cast<XPointer>(recorder.get()))) {
        if (why) *why = "cannot enable the RECORD context";
        XRecordFreeContext(ctrl, recorder->context_);
        XSync(ctrl, False);
        recorder->context_ = 0;
        return nullptr;
    }
    XFlush(recorder->data_->get());
    recorder->enabled_ = true;
    return recorder;
}

InputRecorder::~InputRecorder() {
    if (!control_ || !data_ || !context_) return;
    ::Display* ctrl = control_->get();
    if (enabled_ && !data_->isBroken() && !control_->isBroken()) {
        XRecordDisableContext(ctrl, context_);
        XSync(ctrl, False);
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (!ended_ && !data_->isBroken() && Clock::now() < deadline) {
            pollfd pfd{data_->fd(), POLLIN, 0};
            poll(&pfd, 1, 50);
            process();
        }
    }
    if (!control_->isBroken()) {
        XRecordFreeContext(ctrl, context_);
        XSync(ctrl, False);
    }
}

int InputRecorder::fd() const {
    return data_->fd();
}

bool InputRecorder::isBroken() const {
    return data_->isBroken() || control_->isBroken();
}

void InputRecorder::process() {
    if (data_->isBroken()) return;
    XRecordProcessReplies(data_->get());
}

void InputRecorder::onRecord(XPointer closure, XRecordInterceptData* data) {
    auto* self = reinterpret_cast<InputRecorder*>(closure);
    if (data->category == XRecordEndOfData) {
        self->ended_ = true;
    } else if (data->category == XRecordFromServer && data->data_len * 4 >= sizeof(xEvent)) {
        const auto* event = reinterpret_cast<const xEvent*>(data->data);
        RawInput input;
        switch (event->u.u.type & 0x7f) {
            case ButtonPress:
                input.type = RawInput::Type::Press;
                break;
            case ButtonRelease:
                input.type = RawInput::Type::Release;
                break;
            case MotionNotify:
                input.type = RawInput::Type::Motion;
                break;
            default:
                XRecordFreeData(data);
                return;
        }
        input.button = input.type == RawInput::Type::Motion ? 0 : event->u.u.detail;
        input.x = event->u.keyButtonPointer.rootX;
        input.y = event->u.keyButtonPointer.rootY;
        input.time = event->u.keyButtonPointer.time;
        input.state = event->u.keyButtonPointer.state;
        if (self->callback_) self->callback_(input);
    }
    XRecordFreeData(data);
}

}  // namespace x11::internal
