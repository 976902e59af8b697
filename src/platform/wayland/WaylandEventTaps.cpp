#include "platform/wayland/WaylandEventTaps.h"

#include <cstdio>
#include <memory>

#include "platform/wayland/internal/PrimarySelectionWatcher.h"
#include "platform/wayland/internal/SelectionGesture.h"

namespace platform::wayland {

namespace {

using ::wayland::internal::PrimarySelectionWatcher;

class WaylandEventTap : public EventTap {
  public:
    WaylandEventTap(::wayland::internal::WaylandDesktop& desktop, Scheduler& scheduler, EventMask mask,
                    EventTapCallback callback)
        : desktop_(desktop), scheduler_(scheduler), mask_(mask), callback_(std::move(callback)) {
        lostHandler_ = desktop_.addLostHandler([this] { compositorLost(); });
    }
    ~WaylandEventTap() override {
        *alive_ = false;
        desktop_.removeLostHandler(lostHandler_);
    }

    void addSourceToMainRunLoop() override {
        if (watcher_ || desktop_.connection().isBroken()) return;
        watcher_ = std::make_unique<PrimarySelectionWatcher>(
            desktop_.dataControl(), scheduler_, [this](const std::string&) { selectionFinished(); });
    }
    void removeSourceFromMainRunLoop() override { watcher_.reset(); }
    void setEnabled(bool enabled) override { enabled_ = enabled && !desktop_.connection().isBroken(); }
    bool isEnabled() const override { return enabled_; }
    std::string description() const override {
        char text[160];
        std::snprintf(text, sizeof text, "<WaylandEventTap PRIMARY settled %lld ms via %s mask 0x%llx %s>",
                      static_cast<long long>(PrimarySelectionWatcher::kSettleTime.count()),
                      desktop_.dataControl().protocolName().c_str(), static_cast<unsigned long long>(mask_),
                      enabled_ ? "enabled" : "disabled");
        return text;
    }

  private:
    // As on X11 when the display is lost: the tap disables itself and says so once through its callback.
    void compositorLost() {
        watcher_.reset();
        if (!enabled_) return;
        enabled_ = false;
        InputEvent notice;
        notice.type = EventType::TapDisabledByTimeout;
        auto callback = callback_;
        callback(notice.type, notice);
    }

    void selectionFinished() {
        ::wayland::internal::deliverSelectionGesture(mask_, callback_, alive_, enabled_);
    }

    ::wayland::internal::WaylandDesktop& desktop_;
    Scheduler& scheduler_;
    EventMask mask_;
    EventTapCallback callback_;
    std::unique_ptr<PrimarySelectionWatcher> watcher_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    int lostHandler_ = 0;
    bool enabled_ = true;
};

}  // namespace

std::unique_ptr<EventTap> WaylandEventTaps::createEventTap(EventTapLocation, EventTapPlacement,
                                                           EventTapOptions, EventMask mask,
                                                           EventTapCallback callback) {
    return std::make_unique<WaylandEventTap>(desktop_, scheduler_, mask, std::move(callback));
}

}  // namespace platform::wayland
