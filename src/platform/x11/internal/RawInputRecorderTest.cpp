// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/RawInputRecorder.h"

#include <poll.h>

#include <algorithm>

#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

class RawInputRecorderTest : public x11::testing::XvfbTest {};

TEST_F(RawInputRecorderTest, RawEventsGiveButtonsPositionsAndTheStateBeforeTheEvent) {
    std::vector<RawInput> events;
    auto recorder = RawInputRecorder::start(display_, [&](const RawInput& in) { events.push_back(in); });
    ASSERT_TRUE(recorder);
    auto has = [&](RawInput::Type type) {
        for (const auto& e : events)
            if (e.type == type) return true;
        return false;
    };
    auto await = [&](RawInput::Type type) {
        return x11::testing::waitUntil([&] {
            pollfd pfd{recorder->fd(), POLLIN, 0};
            poll(&pfd, 1, 5);
            recorder->process();
            return has(type);
        });
    };
    // One step at a time: the position is queried after each raw event, so only an event read before the
    // pointer moves on gets its own position (warps themselves produce no raw motion).
    ASSERT_TRUE(xdotool({"mousemove", "30", "40", "mousedown", "1"}));
    ASSERT_TRUE(await(RawInput::Type::Press));
    ASSERT_TRUE(xdotool({"mouseup", "1"}));
    ASSERT_TRUE(await(RawInput::Type::Release));
    PointerEventTranslator translator({1, 2, 3, 4, 5, 6, 7}, {});
    std::vector<PointerEvent::Kind> kinds;
    for (const auto& e : events) {
        if (e.type == RawInput::Type::Press) {
            EXPECT_EQ(e.button, 1u);
            EXPECT_EQ(e.state & Button1Mask, 0u);  // the state before the press
            EXPECT_EQ(e.x, 30);
            EXPECT_EQ(e.y, 40);
        }
        if (e.type == RawInput::Type::Release) {
            EXPECT_NE(e.state & Button1Mask, 0u);
        }
        if (auto pe = translator.translate(e)) kinds.push_back(pe->kind);
    }
    auto count = [&](PointerEvent::Kind k) { return std::count(kinds.begin(), kinds.end(), k); };
    EXPECT_EQ(count(PointerEvent::Kind::LeftDown), 1);
    EXPECT_EQ(count(PointerEvent::Kind::LeftUp), 1);
}

}  // namespace
}  // namespace x11::internal
