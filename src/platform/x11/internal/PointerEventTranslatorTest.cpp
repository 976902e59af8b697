// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/PointerEventTranslator.h"

#include <X11/X.h>

namespace x11::internal {
namespace {

using Kind = PointerEvent::Kind;
using Type = RawInput::Type;

RawInput in(Type type, unsigned button, int x, int y, uint32_t time, unsigned state = 0) {
    return RawInput{type, button, x, y, time, state};
}

std::vector<unsigned char> identity() {
    return {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
}

int64_t click(PointerEventTranslator& t, int x, int y, uint32_t time) {
    auto down = t.translate(in(Type::Press, 1, x, y, time));
    auto up = t.translate(in(Type::Release, 1, x, y, time + 20));
    EXPECT_TRUE(down && up);
    if (!down || !up) return -1;  // fails the caller's comparison instead of crashing the binary
    EXPECT_EQ(down->clickCount, up->clickCount);
    return up->clickCount;
}

TEST(PointerEventTranslatorTest, ClickCountFollowsTimeDistanceAndButton) {
    PointerEventTranslator t(identity(), {400, 5});
    EXPECT_EQ(click(t, 10, 10, 1000), 1);
    EXPECT_EQ(click(t, 12, 13, 1200), 2);  // within 400 ms and 5 px
    EXPECT_EQ(click(t, 12, 13, 1500), 3);  // measured from the previous press
    EXPECT_EQ(click(t, 12, 13, 2000), 1);  // 500 ms later: a new sequence
    EXPECT_EQ(click(t, 30, 13, 2100), 1);  // too far
    EXPECT_EQ(click(t, 30, 13, 2200), 2);
    // A right-button click in between breaks the sequence.
    t.translate(in(Type::Press, 3, 30, 13, 2300));
    t.translate(in(Type::Release, 3, 30, 13, 2310));
    EXPECT_EQ(click(t, 30, 13, 2400), 1);
}

TEST(PointerEventTranslatorTest, ServerTimeWrapIsHandledAndBackwardsTimeIsNotADoubleClick) {
    PointerEventTranslator t(identity(), {400, 5});
    EXPECT_EQ(click(t, 0, 0, 0xFFFFFF00u), 1);
    EXPECT_EQ(click(t, 0, 0, 0x00000010u), 2);  // 0x110 ms after, across the wrap
    PointerEventTranslator u(identity(), {400, 5});
    EXPECT_EQ(click(u, 0, 0, 5000), 1);
    EXPECT_EQ(click(u, 0, 0, 4900), 1);
}

TEST(PointerEventTranslatorTest, DragEventsAndDragEndingTheSequence) {
    PointerEventTranslator t(identity(), {400, 5});
    EXPECT_EQ(t.translate(in(Type::Motion, 0, 5, 5, 10))->kind, Kind::Moved);
    auto down = t.translate(in(Type::Press, 1, 10, 10, 100, ShiftMask));
    ASSERT_TRUE(down);
    EXPECT_EQ(down->kind, Kind::LeftDown);
    EXPECT_EQ(down->flags & kShiftFlag, kShiftFlag);
    auto drag = t.translate(in(Type::Motion, 0, 40, 10, 120, Button1Mask));
    EXPECT_EQ(drag->kind, Kind::LeftDragged);
    auto up = t.translate(in(Type::Release, 1, 40, 10, 150));
    EXPECT_EQ(up->kind, Kind::LeftUp);
    EXPECT_EQ(up->clickCount, 1);
    EXPECT_EQ(t.translate(in(Type::Motion, 0, 41, 10, 160))->kind, Kind::Moved);
    // Pressing again at the drag's end quickly is a new sequence: the drag ended the previous one.
    EXPECT_EQ(click(t, 40, 10, 200), 1);
    // A jitter of a pixel inside a double click keeps the sequence.
    t.translate(in(Type::Press, 1, 40, 10, 250));
    EXPECT_EQ(t.translate(in(Type::Motion, 0, 41, 11, 260))->kind, Kind::LeftDragged);
    EXPECT_EQ(t.translate(in(Type::Release, 1, 41, 11, 270))->clickCount, 2);
}

TEST(PointerEventTranslatorTest, WheelAndMappedButtonsAreNotLeftEventsAndStrayReleasePassesOn) {
    PointerEventTranslator t({3, 2, 1, 4, 5, 6, 7}, {400, 5});
    EXPECT_FALSE(t.translate(in(Type::Press, 1, 0, 0, 10)));
    EXPECT_FALSE(t.translate(in(Type::Press, 4, 0, 0, 10)));
    EXPECT_FALSE(t.translate(in(Type::Release, 7, 0, 0, 10)));
    auto up = t.translate(in(Type::Release, 3, 0, 0, 20));  // physical 3 is the left button here
    ASSERT_TRUE(up);
    EXPECT_EQ(up->kind, Kind::LeftUp);
}

}  // namespace
}  // namespace x11::internal
