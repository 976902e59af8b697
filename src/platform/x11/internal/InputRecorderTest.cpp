// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/InputRecorder.h"

#include <X11/Xlib.h>
#include <poll.h>

#include <vector>

#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

class InputRecorderTest : public x11::testing::XvfbTest {
  protected:
    // Processes the recording until `count` events arrived or a few seconds passed.
    bool collect(InputRecorder& recorder, size_t count) {
        return x11::testing::waitUntil([&] {
            pollfd pfd{recorder.fd(), POLLIN, 0};
            poll(&pfd, 1, 5);
            recorder.process();
            return events_.size() >= count;
        });
    }
    std::vector<RawInput> events_;
};

TEST_F(InputRecorderTest, RecordsPressDragReleaseWithRootPositionsInOrder) {
    auto recorder = InputRecorder::start(display_, [this](const RawInput& in) { events_.push_back(in); });
    ASSERT_TRUE(recorder);
    ASSERT_TRUE(
        xdotool({"mousemove", "100", "200", "mousedown", "1", "mousemove", "160", "230", "mouseup", "1"}));
    ASSERT_TRUE(collect(*recorder, 4));
    // Warps are recorded as motion with their exact target.
    std::vector<RawInput> kept;
    for (const auto& e : events_)
        if (e.type != RawInput::Type::Motion || e.x == 100 || e.x == 160) kept.push_back(e);
    ASSERT_GE(kept.size(), 4u);
    EXPECT_EQ(kept[0].type, RawInput::Type::Motion);
    EXPECT_EQ(kept[0].x, 100);
    EXPECT_EQ(kept[0].y, 200);
    EXPECT_EQ(kept[1].type, RawInput::Type::Press);
    EXPECT_EQ(kept[1].button, 1u);
    EXPECT_EQ(kept[2].type, RawInput::Type::Motion);
    EXPECT_EQ(kept[2].x, 160);
    EXPECT_EQ(kept[2].y, 230);
    EXPECT_TRUE(kept[2].state & Button1Mask);
    EXPECT_EQ(kept[3].type, RawInput::Type::Release);
    EXPECT_EQ(kept[3].x, 160);
    // Server times never go backwards within a burst.
    for (size_t i = 1; i < events_.size(); ++i) EXPECT_GE(events_[i].time - events_[0].time, 0u);
}

TEST_F(InputRecorderTest, FastBurstLosesNothingAndShutdownDrains) {
    auto recorder = InputRecorder::start(display_, [this](const RawInput& in) { events_.push_back(in); });
    ASSERT_TRUE(recorder);
    std::vector<std::string> args;
    for (int i = 0; i < 50; ++i) {
        args.push_back("mousemove");
        args.push_back(std::to_string(300 + i));
        args.push_back("300");
    }
    ASSERT_TRUE(xdotool(args));
    ASSERT_TRUE(collect(*recorder, 50));
    int last = -1;
    for (const auto& e : events_) {
        if (e.x >= 300 && e.y == 300) {
            EXPECT_EQ(e.x, last < 0 ? 300 : last + 1);
            last = e.x;
        }
    }
    EXPECT_EQ(last, 349);
    // Events still in flight at shutdown must not make the destructor hang.
    ASSERT_TRUE(xdotool({"mousemove", "10", "10", "mousemove", "20", "20"}));
    auto started = Clock::now();
    recorder.reset();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(2));
}

TEST_F(InputRecorderTest, PhysicalButtonsMapThroughThePointerMapping) {
    auto conn = Connection::open(display_);
    ASSERT_TRUE(conn);
    unsigned char original[32];
    int n = XGetPointerMapping(conn->get(), original, 32);
    ASSERT_GE(n, 3);
    std::vector<unsigned char> swapped(original, original + n);
    std::swap(swapped[0], swapped[2]);
    ASSERT_TRUE(x11::testing::waitUntil(
        [&] { return XSetPointerMapping(conn->get(), swapped.data(), n) == MappingSuccess; }));
    XSync(conn->get(), False);

    auto recorder = InputRecorder::start(display_, [this](const RawInput& in) { events_.push_back(in); });
    ASSERT_TRUE(recorder);
    ASSERT_TRUE(xdotool({"mousemove", "50", "50", "click", "1"}));
    ASSERT_TRUE(collect(*recorder, 3));
    unsigned char now[32];
    int m = XGetPointerMapping(conn->get(), now, 32);
    PointerEventTranslator translator(std::vector<unsigned char>(now, now + m), {});
    bool sawPress = false;
    for (const auto& e : events_) {
        if (e.type != RawInput::Type::Press) continue;
        sawPress = true;
        // Recorded as physical 1, which the mapping makes the right button: no left-button event.
        EXPECT_EQ(e.button, 1u);
        EXPECT_EQ(translator.logicalButton(e.button), 3u);
        EXPECT_FALSE(translator.translate(e).has_value());
    }
    EXPECT_TRUE(sawPress);
    ASSERT_TRUE(x11::testing::waitUntil(
        [&] { return XSetPointerMapping(conn->get(), original, n) == MappingSuccess; }));
    XSync(conn->get(), False);
}

}  // namespace
}  // namespace x11::internal
