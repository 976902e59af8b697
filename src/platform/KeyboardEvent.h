#pragma once

#include <cstdint>

#include "platform/EventTap.h"

namespace platform {

// Virtual key codes of the keys the service strikes; backends map them to their own key codes.
inline constexpr std::uint16_t kVK_ANSI_C = 8;
inline constexpr std::uint16_t kVK_ANSI_V = 9;

enum class EventSourceStateID : std::int32_t { Private = -1, CombinedSessionState = 0, HIDSystemState = 1 };
enum class EventSuppressionState : std::uint32_t { SuppressionInterval = 0, RemoteMouseDrag = 1 };

// Which local input may pass while synthetic events are being delivered.
enum EventFilterMask : std::uint32_t {
    kEventFilterMaskPermitLocalMouseEvents = 1,
    kEventFilterMaskPermitLocalKeyboardEvents = 2,
    kEventFilterMaskPermitSystemDefinedEvents = 4,
};
inline constexpr std::uint32_t kEventFilterMaskPermitAllEvents = 7;

// A synthetic keyboard event, made by a KeyboardEventSource and carrying that source's settings.
struct KeyboardEvent {
    std::uint16_t keyCode = 0;
    bool keyDown = false;
    std::uint64_t flags = 0;
    EventSourceStateID sourceState = EventSourceStateID::CombinedSessionState;
    // Local input let through during the suppression interval after the event.
    std::uint32_t localEventsFilterDuringSuppressionInterval = kEventFilterMaskPermitAllEvents;
    std::uint32_t localEventsFilterDuringRemoteMouseDrag = kEventFilterMaskPermitAllEvents;

    bool operator==(const KeyboardEvent&) const = default;
};

// The editing command a synthetic key event stands for: the key code and the Command flag name a chord
// logically, and each backend strikes the chord that means the same on its desktop (Control+C and the like).
enum class EditCommand { None, Copy, Paste };
constexpr EditCommand editCommandOf(const KeyboardEvent& event) {
    if ((event.flags & kEventFlagMaskCommand) == 0) return EditCommand::None;
    if (event.keyCode == kVK_ANSI_C) return EditCommand::Copy;
    if (event.keyCode == kVK_ANSI_V) return EditCommand::Paste;
    return EditCommand::None;
}

}  // namespace platform
