#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace x11::internal {

// Device events as the server recorded them: physical button numbers, root coordinates, server time.
struct RawInput {
    enum class Type { Press, Release, Motion };
    Type type = Type::Motion;
    unsigned button = 0;  // physical; 0 for motion
    int x = 0;
    int y = 0;
    uint32_t time = 0;   // server milliseconds, wraps every ~49.7 days
    unsigned state = 0;  // core modifier and button mask before the event
};

// The left-button event types a selection detector needs, with the numbers desktop event taps use for them.
struct PointerEvent {
    enum class Kind { LeftDown = 1, LeftUp = 2, Moved = 5, LeftDragged = 6 };
    Kind kind = Kind::Moved;
    int x = 0;
    int y = 0;
    uint32_t time = 0;
    int64_t clickCount = 0;  // for LeftDown/LeftUp; 0 otherwise
    uint64_t flags = 0;      // modifier flags held at the event
};

// Event-flag bits of the modifiers (the values desktop event taps use).
inline constexpr uint64_t kShiftFlag = 0x20000;
inline constexpr uint64_t kControlFlag = 0x40000;
inline constexpr uint64_t kAlternateFlag = 0x80000;

// Turns recorded device events into left-button gesture events: maps physical buttons through the pointer
// mapping (logical 4 to 7 are the wheel and ignored), tracks the left button, and derives the click count
// X11 does not carry: a press continues a sequence when it is the same button, within `doubleClickTime` of
// the previous press (server time, wrap-safe) and within `doubleClickDistance` pixels of it, and no drag
// beyond that distance ended the sequence. Pure logic; called on the thread that reads the recording.
class PointerEventTranslator {
  public:
    struct Thresholds {
        uint32_t doubleClickTime = 400;  // ms
        int doubleClickDistance = 5;     // px
    };

    PointerEventTranslator(std::vector<unsigned char> pointerMapping, Thresholds thresholds);

    void setPointerMapping(std::vector<unsigned char> mapping) { mapping_ = std::move(mapping); }
    void setThresholds(Thresholds thresholds) { thresholds_ = thresholds; }
    const Thresholds& thresholds() const { return thresholds_; }

    std::optional<PointerEvent> translate(const RawInput& input);
    unsigned logicalButton(unsigned physical) const;

  private:
    static uint64_t flagsOf(unsigned state);
    bool withinDistance(int x, int y) const;

    std::vector<unsigned char> mapping_;
    Thresholds thresholds_;
    bool leftDown_ = false;
    // The click sequence: the last press of the left button.
    bool sequenceOpen_ = false;
    uint32_t lastPressTime_ = 0;
    int pressX_ = 0;
    int pressY_ = 0;
    int64_t clickCount_ = 0;
};

}  // namespace x11::internal
