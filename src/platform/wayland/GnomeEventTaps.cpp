#include "platform/wayland/GnomeEventTaps.h"

#include <cstdio>
#include <memory>
#include <string>

#include "platform/wayland/internal/SelectionGesture.h"

namespace platform::wayland {

namespace {

using ::wayland::internal::ShellExtension;

class GnomeEventTap : public EventTap {
  public:
    GnomeEventTap(ShellExtension& extension, EventMask mask, EventTapCallback callback)
        : extension_(extension), mask_(mask), callback_(std::move(callback)) {}
    ~GnomeEventTap() override {
        *alive_ = false;
        removeSourceFromMainRunLoop();
    }

    void addSourceToMainRunLoop() override {
        if (handler_ != 0) return;
        handler_ = extension_.addSignalHandler([this](ShellExtension::Signal signal) {
            if (signal == ShellExtension::Signal::SelectionFinished) selectionFinished();
        });
    }
    void removeSourceFromMainRunLoop() override {
        if (handler_ != 0) extension_.removeSignalHandler(handler_);
        handler_ = 0;
    }
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }
    std::string description() const override {
        char text[120];
        std::snprintf(text, sizeof text, "<GnomeEventTap Shell extension %s mask 0x%llx %s>",
                      ShellExtension::kUuid, static_cast<unsigned long long>(mask_),
                      enabled_ ? "enabled" : "disabled");
        return text;
    }

  private:
    void selectionFinished() {
        if (!enabled_) return;
        auto text = extension_.readText(ShellExtension::Selection::Primary);
        if (!text || text->empty() || *text == lastAnnounced_) return;
        lastAnnounced_ = *text;
        ::wayland::internal::deliverSelectionGesture(mask_, callback_, alive_, enabled_);
    }

    ShellExtension& extension_;
    EventMask mask_;
    EventTapCallback callback_;
    int handler_ = 0;
    bool enabled_ = true;
    std::string lastAnnounced_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace

std::unique_ptr<EventTap> GnomeEventTaps::createEventTap(EventTapLocation, EventTapPlacement, EventTapOptions,
                                                         EventMask mask, EventTapCallback callback) {
    return std::make_unique<GnomeEventTap>(extension_, mask, std::move(callback));
}

}  // namespace platform::wayland
