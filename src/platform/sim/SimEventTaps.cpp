#include "platform/sim/SimEventTaps.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace platform::sim {

class SimEventTaps::Tap : public EventTap {
  public:
    Tap(SimEventTaps& owner, std::shared_ptr<TapState> state) : owner_(owner), state_(std::move(state)) {}
    ~Tap() override { std::erase(owner_.taps_, state_); }

    void addSourceToMainRunLoop() override { state_->onRunLoop = true; }
    void removeSourceFromMainRunLoop() override { state_->onRunLoop = false; }
    void setEnabled(bool enabled) override { state_->enabled = enabled; }
    bool isEnabled() const override { return state_->enabled; }
    std::string description() const override {
        char mask[32];
        std::snprintf(mask, sizeof mask, "0x%llx", static_cast<unsigned long long>(state_->mask));
        return "<SimEventTap #" + std::to_string(state_->id) + " mask " + mask +
               (state_->enabled ? " enabled>" : " disabled>");
    }

  private:
    SimEventTaps& owner_;
    std::shared_ptr<TapState> state_;
};

std::unique_ptr<EventTap> SimEventTaps::createEventTap(EventTapLocation location, EventTapPlacement placement,
                                                       EventTapOptions options, EventMask mask,
                                                       EventTapCallback callback) {
    if (refuseCreation_) return nullptr;
    auto state = std::make_shared<TapState>();
    state->id = ++nextId_;
    state->location = location;
    state->placement = placement;
    state->options = options;
    state->mask = mask;
    state->callback = std::move(callback);
    // A new tap starts enabled, as the platform's do; its events flow once its source is on the run loop.
    state->enabled = true;
    taps_.push_back(state);
    return std::make_unique<Tap>(*this, std::move(state));
}

void SimEventTaps::deliver(const InputEvent& event) {
    const auto snapshot = taps_;  // callbacks may add or remove taps
    for (const auto& state : snapshot) {
        const bool alive = std::find(taps_.begin(), taps_.end(), state) != taps_.end();
        const bool selected =
            static_cast<std::uint32_t>(event.type) < 64 && (state->mask & maskBit(event.type));
        if (!alive || !state->onRunLoop || !state->enabled || !selected) continue;
        auto callback = state->callback;  // the tap may be destroyed while its callback runs
        callback(event.type, event);
    }
}

void SimEventTaps::disableAll(EventType reason) {
    const auto snapshot = taps_;
    for (const auto& state : snapshot) {
        const bool alive = std::find(taps_.begin(), taps_.end(), state) != taps_.end();
        if (!alive || !state->enabled) continue;
        state->enabled = false;
        if (!state->onRunLoop) continue;
        InputEvent notice;
        notice.type = reason;
        auto callback = state->callback;
        callback(reason, notice);
    }
}

std::size_t SimEventTaps::activeCount() const {
    return static_cast<std::size_t>(
        std::count_if(taps_.begin(), taps_.end(), [](const auto& s) { return s->onRunLoop && s->enabled; }));
}

std::vector<SimEventTaps::TapState> SimEventTaps::taps() const {
    std::vector<TapState> result;
    for (const auto& state : taps_) result.push_back(*state);
    return result;
}

}  // namespace platform::sim
