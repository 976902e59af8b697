// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/PointerEventTranslator.h"

#include <X11/X.h>

namespace x11::internal {
namespace {

using Type = RawInput::Type;

// The click counts the real server cannot give on demand: thresholds, the server clock wrapping or going
// back, and a drag or another button ending the sequence. Each row is a press and a release 20 ms apart,
// with a motion to `dragTo` between them (the left button held) when it is set.
TEST(PointerEventTranslatorTest, ClickCountFollowsTimeDistanceButtonAndDrags) {
    struct Row {
        const char* what;
        unsigned button;
        int x, y;
        uint32_t time;
        int64_t count;  // -1: no left-button event
        int dragTo = 0;
    };
    const Row rows[] = {
        {"first", 1, 10, 10, 1000, 1},
        {"within 400 ms and 5 px", 1, 12, 13, 1200, 2},
        {"measured from the previous press", 1, 12, 13, 1500, 3},
        {"500 ms later", 1, 12, 13, 2000, 1},
        {"too far", 1, 30, 13, 2100, 1},
        {"right button in between", 3, 30, 13, 2200, -1},
        {"after the right button", 1, 30, 13, 2300, 1},
        {"a drag beyond the distance and back", 1, 30, 13, 3000, 1, 60},
        {"a press where the drag began", 1, 30, 13, 3100, 1},
        {"a jitter of a pixel", 1, 30, 13, 3200, 2, 31},
        {"before a wrap", 1, 0, 0, 0xFFFFFF00u, 1},
        {"across the wrap", 1, 0, 0, 0x00000010u, 2},
        {"backwards in time", 1, 0, 0, 0x00000005u, 1},
    };
    PointerEventTranslator t({1, 2, 3, 4, 5, 6, 7}, {400, 5});
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        auto down = t.translate({Type::Press, r.button, r.x, r.y, r.time, 0});
        if (r.dragTo) {
            auto drag = t.translate({Type::Motion, 0, r.dragTo, r.y, r.time + 10, Button1Mask});
            ASSERT_TRUE(drag);
            EXPECT_EQ(drag->kind, PointerEvent::Kind::LeftDragged);
        }
        auto up = t.translate({Type::Release, r.button, r.x, r.y, r.time + 20, 0});
        EXPECT_EQ(down.has_value(), r.count >= 0);
        if (r.count < 0 || !down || !up) continue;
        EXPECT_EQ(down->clickCount, r.count);
        EXPECT_EQ(up->clickCount, r.count);
    }
    // Shift held at the press is in the event's flags.
    auto shifted = t.translate({Type::Press, 1, 0, 0, 20000, ShiftMask});
    ASSERT_TRUE(shifted);
    EXPECT_EQ(shifted->flags & kShiftFlag, kShiftFlag);
    t.translate({Type::Release, 1, 0, 0, 20010, ShiftMask});
    // A release whose press came before the recording started still ends the gesture.
    auto stray = t.translate({Type::Release, 1, 0, 0, 10, 0});
    ASSERT_TRUE(stray);
    EXPECT_EQ(stray->kind, PointerEvent::Kind::LeftUp);
}

}  // namespace
}  // namespace x11::internal
