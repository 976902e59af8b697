#include "platform/x11/internal/PointerEventTranslator.h"

#include <X11/X.h>

#include <cstdlib>

namespace x11::internal {

PointerEventTranslator::PointerEventTranslator(std::vector<unsigned char> pointerMapping,
                                               Thresholds thresholds)
    : mapping_(std::move(pointerMapping)), thresholds_(thresholds) {}

unsigned PointerEventTranslator::logicalButton(unsigned physical) const {
    if (physical == 0) return 0;
    if (physical <= mapping_.size()) return mapping_[physical - 1];
    return physical;
}

uint64_t PointerEventTranslator::flagsOf(unsigned state) {
    uint64_t flags = 0;
    if (state & ShiftMask) flags |= kShiftFlag;
    if (state & ControlMask) flags |= kControlFlag;
    if (state & Mod1Mask) flags |= kAlternateFlag;
    return flags;
}

bool PointerEventTranslator::withinDistance(int x, int y) const {
    return std::abs(x - pressX_) <= thresholds_.doubleClickDistance &&
           std::abs(y - pressY_) <= thresholds_.doubleClickDistance;
}

std::optional<PointerEvent> PointerEventTranslator::translate(const RawInput& input) {
    PointerEvent event;
    event.x = input.x;
    event.y = input.y;
    event.time = input.time;
    event.flags = flagsOf(input.state);
    switch (input.type) {
        case RawInput::Type::Motion:
            if (!leftDown_) {
                event.kind = PointerEvent::Kind::Moved;
                return event;
            }
            event.kind = PointerEvent::Kind::LeftDragged;
            if (!withinDistance(input.x, input.y)) sequenceOpen_ = false;  // a drag ends the click sequence
            return event;
        case RawInput::Type::Press: {
            if (logicalButton(input.button) != 1) {
                // Another button breaks a click sequence of the left one.
                sequenceOpen_ = false;
                return std::nullopt;
            }
            // Unsigned difference: correct across the 32-bit wrap of server time; "negative" means out of
            // order.
            uint32_t elapsed = input.time - lastPressTime_;
            bool continues = sequenceOpen_ && elapsed <= thresholds_.doubleClickTime &&
                             elapsed < 0x80000000u && withinDistance(input.x, input.y);
            clickCount_ = continues ? clickCount_ + 1 : 1;
            sequenceOpen_ = true;
            lastPressTime_ = input.time;
            pressX_ = input.x;
            pressY_ = input.y;
            leftDown_ = true;
            event.kind = PointerEvent::Kind::LeftDown;
            event.clickCount = clickCount_;
            return event;
        }
        case RawInput::Type::Release:
            if (logicalButton(input.button) != 1) return std::nullopt;
            // A release whose press came before the recording started is passed on; its reader ignores it.
            event.kind = PointerEvent::Kind::LeftUp;
            event.clickCount = leftDown_ ? clickCount_ : 1;
            leftDown_ = false;
            return event;
    }
    return std::nullopt;
}

}  // namespace x11::internal
