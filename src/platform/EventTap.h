#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// Event type numbers; an event mask has one bit per type number (bit n selects type n).
enum class EventType : std::uint32_t {
    Null = 0,
    LeftMouseDown = 1,
    LeftMouseUp = 2,
    RightMouseDown = 3,
    RightMouseUp = 4,
    MouseMoved = 5,
    LeftMouseDragged = 6,
    // Delivered to a tap's callback when the platform disabled the tap; not selectable by the mask.
    TapDisabledByTimeout = 0xFFFFFFFE,
    TapDisabledByUserInput = 0xFFFFFFFF,
};

using EventMask = std::uint64_t;
constexpr EventMask maskBit(EventType type) {
    return EventMask{1} << static_cast<std::uint32_t>(type);
}

// Event flag bits.
inline constexpr std::uint64_t kEventFlagMaskShift = 0x20000;
inline constexpr std::uint64_t kEventFlagMaskControl = 0x40000;
inline constexpr std::uint64_t kEventFlagMaskAlternate = 0x80000;
inline constexpr std::uint64_t kEventFlagMaskCommand = 0x100000;

enum class EventField : std::uint32_t {
    MouseEventNumber = 0,
    MouseEventClickState = 1,
};

enum class EventTapLocation : std::uint32_t {
    HIDEventTap = 0,
    SessionEventTap = 1,
    AnnotatedSessionEventTap = 2
};
enum class EventTapPlacement : std::uint32_t { HeadInsert = 0, TailAppend = 1 };
enum class EventTapOptions : std::uint32_t { Default = 0, ListenOnly = 1 };

// One input event as a tap sees it. The backend fills in the click count (on desktops without one it derives
// it from time and distance) and the modifier flags held at the event.
struct InputEvent {
    EventType type = EventType::Null;
    std::uint64_t flags = 0;
    std::int64_t clickState = 0;
    // Set by a backend that cannot see the cursor but knows from the desktop itself that the gesture selected
    // text (on Wayland, PRIMARY settling): the gesture counts as made over text.
    bool selectsText = false;

    std::uint64_t getFlags() const { return flags; }
    std::int64_t getIntegerValueField(EventField field) const {
        return field == EventField::MouseEventClickState ? clickState : 0;
    }
};

// An installed global event tap. Events reach the callback only while the tap's source is on the main run
// loop and the tap is enabled; the callback then runs on the main thread, one event at a time, in the order
// the events happened. The platform may disable a tap on its own (it then calls the callback once with a
// TapDisabledBy… type); it stays disabled until `setEnabled(true)`.
//
// Events are observed, never altered or dropped. Main thread only. Destroying the tap removes it (and its
// source) for good; do not destroy a tap from inside its own callback's caller chain other than through the
// owner's `stop` (backends tolerate that, nothing else is promised).
class EventTap {
  public:
    virtual ~EventTap() = default;
    virtual void addSourceToMainRunLoop() = 0;
    virtual void removeSourceFromMainRunLoop() = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    // Readable text for log lines.
    virtual std::string description() const = 0;
};

using EventTapCallback = std::function<void(EventType type, const InputEvent& event)>;

// Creates global event taps. Creation may fail (no permission, no input extension): null then.
class EventTaps {
  public:
    virtual ~EventTaps() = default;
    virtual std::unique_ptr<EventTap> createEventTap(EventTapLocation location, EventTapPlacement placement,
                                                     EventTapOptions options, EventMask mask,
                                                     EventTapCallback callback) = 0;
};

}  // namespace platform
