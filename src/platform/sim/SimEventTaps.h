#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/EventTap.h"

namespace platform::sim {

// The simulated desktop's event taps. A tap receives an event when it is alive, its source is on the run
// loop, it is enabled and its mask selects the event's type; delivery is synchronous on the test's thread
// (the simulated main thread), tap by tap in creation order. A callback may stop or start taps while it runs.
// Single-threaded.
class SimEventTaps : public EventTaps {
  public:
    struct TapState {
        std::uint64_t id = 0;
        EventTapLocation location{};
        EventTapPlacement placement{};
        EventTapOptions options{};
        EventMask mask = 0;
        EventTapCallback callback;
        bool onRunLoop = false;
        bool enabled = false;
    };

    std::unique_ptr<EventTap> createEventTap(EventTapLocation location, EventTapPlacement placement,
                                             EventTapOptions options, EventMask mask,
                                             EventTapCallback callback) override;

    // Scripting.
    void deliver(const InputEvent& event);
    // The platform disables every enabled tap and tells each through its callback.
    void disableAll(EventType reason = EventType::TapDisabledByTimeout);
    void setRefuseCreation(bool refuse) { refuseCreation_ = refuse; }
    // Taps created and not yet destroyed.
    std::size_t installedCount() const { return taps_.size(); }
    std::size_t activeCount() const;
    std::vector<TapState> taps() const;
    std::uint64_t createdCount() const { return nextId_; }

  private:
    class Tap;
    std::vector<std::shared_ptr<TapState>> taps_;
    std::uint64_t nextId_ = 0;
    bool refuseCreation_ = false;
};

}  // namespace platform::sim
