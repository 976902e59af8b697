#include "platform/x11/X11EventTaps.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <deque>

#include "dispatch/RunLoop.h"
#include "platform/x11/internal/InputRecorder.h"
#include "platform/x11/internal/PointerEventTranslator.h"
#include "platform/x11/internal/RawInputRecorder.h"
#include "platform/x11/internal/XSettings.h"

namespace platform::x11 {

namespace {

using ::x11::internal::InputRecorder;
using ::x11::internal::PointerEvent;
using ::x11::internal::PointerEventTranslator;
using ::x11::internal::RawInput;

PointerEventTranslator::Thresholds thresholdsOf(::x11::internal::Connection& connection) {
    PointerEventTranslator::Thresholds t;
    auto settings = ::x11::internal::XSettings::readIntegers(connection);
    if (auto it = settings.find("Net/DoubleClickTime"); it != settings.end() && it->second > 0)
        t.doubleClickTime = static_cast<uint32_t>(it->second);
    if (auto it = settings.find("Net/DoubleClickDistance"); it != settings.end() && it->second >= 0)
        t.doubleClickDistance = it->second;
    return t;
}

std::vector<unsigned char> pointerMappingOf(::x11::internal::Connection& connection) {
    unsigned char map[256];
    int n = XGetPointerMapping(connection.get(), map, sizeof map);
    return std::vector<unsigned char>(map, map + (n > 0 ? n : 0));
}

class X11EventTap : public EventTap {
  public:
    X11EventTap(::x11::internal::X11Desktop& desktop, EventMask mask, EventTapCallback callback)
        : desktop_(desktop),
          mask_(mask),
          callback_(std::move(callback)),
          translator_(pointerMappingOf(desktop.connection()), thresholdsOf(desktop.connection())),
          alive_(std::make_shared<bool>(true)) {}

    ~X11EventTap() override {
        *alive_ = false;
        watch_.reset();
        // The recording drains into `pending_` while it shuts down: end it while the queue still exists.
        recorder_.reset();
    }

    bool start(std::string* why) {
        recorder_ = InputRecorder::start(
            desktop_.displayName(), [this](const RawInput& input) { pending_.push_back(input); }, why);
        return recorder_ != nullptr;
    }

    void addSourceToMainRunLoop() override {
        if (watch_ || !recorder_) return;
        watch_ = dispatch::RunLoop::main().watch(recorder_->fd(), dispatch::RunLoop::Readable,
                                                 [this](unsigned) { onReadable(); });
    }
    void removeSourceFromMainRunLoop() override { watch_.reset(); }
    void setEnabled(bool enabled) override {
        if (enabled && !recorder_->isBroken()) {
            // Settings may have changed since the tap was made.
            translator_.setPointerMapping(pointerMappingOf(desktop_.connection()));
            translator_.setThresholds(thresholdsOf(desktop_.connection()));
        }
        enabled_ = enabled && !recorder_->isBroken();
    }
    bool isEnabled() const override { return enabled_; }
    std::string description() const override {
        char text[96];
        std::snprintf(text, sizeof text, "<X11EventTap %s on %s mask 0x%llx %s>",
                      desktop_.capabilities().record ? "RECORD" : "XInput2", desktop_.displayName().c_str(),
                      static_cast<unsigned long long>(mask_), enabled_ ? "enabled" : "disabled");
        return text;
    }

  private:
    void onReadable() {
        // Collect first, deliver after: the callback may destroy this tap, which must not happen while the
        // recording library is still on the stack.
        recorder_->process();
        std::shared_ptr<bool> alive = alive_;
        std::deque<RawInput> batch;
        batch.swap(pending_);
        for (const RawInput& input : batch) {
            auto event = translator_.translate(input);
            if (!event) continue;
            if (event->kind == PointerEvent::Kind::LeftDown) desktop_.noteLeftDown(event->time);
            if (event->kind == PointerEvent::Kind::LeftUp) desktop_.noteLeftUp();
            deliver(*event);
            if (!*alive) return;
        }
        if (recorder_->isBroken()) {
            watch_.reset();
            if (enabled_) {
                enabled_ = false;
                InputEvent notice;
                notice.type = EventType::TapDisabledByTimeout;
                auto callback = callback_;
                callback(notice.type, notice);
            }
        }
    }

    void deliver(const PointerEvent& event) {
        if (!enabled_) return;
        auto type = static_cast<EventType>(static_cast<uint32_t>(event.kind));
        if (!(mask_ & maskBit(type))) return;
        InputEvent input;
        input.type = type;
        input.flags = event.flags;
        input.clickState = event.clickCount;
        auto callback = callback_;  // the tap may be destroyed while its callback runs
        callback(type, input);
    }

    ::x11::internal::X11Desktop& desktop_;
    EventMask mask_;
    EventTapCallback callback_;
    PointerEventTranslator translator_;
    std::unique_ptr<::x11::internal::InputSource> recorder_;
    std::unique_ptr<dispatch::RunLoop::Watch> watch_;
    std::deque<RawInput> pending_;
    std::shared_ptr<bool> alive_;
    bool enabled_ = true;
};

}  // namespace

std::unique_ptr<EventTap> X11EventTaps::createEventTap(EventTapLocation, EventTapPlacement, EventTapOptions,
                                                       EventMask mask, EventTapCallback callback) {
    if (!desktop_.capabilities().sufficient()) return nullptr;
    auto tap = std::make_unique<X11EventTap>(desktop_, mask, std::move(callback));
    std::string why;
    if (!tap->start(&why)) {
        std::fprintf(stderr, "X11EventTaps: cannot record input: %s\n", why.c_str());
        return nullptr;
    }
    desktop_.settle();
    return tap;
}

}  // namespace platform::x11
