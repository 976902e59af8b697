// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/InputRecorder.h"

#include <X11/Xlib.h>
#include <poll.h>

#include <tuple>
#include <vector>

#include "platform/x11/internal/RawInputRecorder.h"
#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

using Type = RawInput::Type;

// Both recorders of the pointer (RECORD, and XInput 2 raw events where RECORD is missing) on real XTEST
// input.
class InputRecorderTest : public x11::testing::XvfbTest {
  protected:
    // Processes the recording until `done` holds or a few seconds passed.
    template <typename Recorder>
    bool collect(Recorder& recorder, const std::function<bool()>& done) {
        return x11::testing::waitUntil([&] {
            pollfd pfd{recorder.fd(), POLLIN, 0};
            poll(&pfd, 1, 5);
            recorder.process();
            return done();
        });
    }
    bool has(Type type) const {
        return std::any_of(events_.begin(), events_.end(), [&](const RawInput& e) { return e.type == type; });
    }
    std::function<void(const RawInput&)> sink() {
        return [this](const RawInput& in) { events_.push_back(in); };
    }
    std::vector<RawInput> events_;
};

TEST_F(InputRecorderTest, RecordsPressDragReleaseWithRootPositionsInOrder) {
    auto recorder = InputRecorder::start(display_, sink());
    ASSERT_TRUE(recorder);
    ASSERT_TRUE(
        xdotool({"mousemove", "100", "200", "mousedown", "1", "mousemove", "160", "230", "mouseup", "1"}));
    ASSERT_TRUE(collect(*recorder, [&] { return has(Type::Release); }));
    // Warps are recorded as motion with their exact target; the state is the one before the event.
    using Seen = std::tuple<Type, unsigned, int, int, unsigned>;
    std::vector<Seen> kept;
    for (const auto& e : events_)
        if (e.type != Type::Motion || e.x == 100 || e.x == 160)
            kept.emplace_back(e.type, e.button, e.x, e.y, e.state & Button1Mask);
    EXPECT_EQ(kept, (std::vector<Seen>{{Type::Motion, 0, 100, 200, 0},
                                       {Type::Press, 1, 100, 200, 0},
                                       {Type::Motion, 0, 160, 230, Button1Mask},
                                       {Type::Release, 1, 160, 230, Button1Mask}}));
}

TEST_F(InputRecorderTest, FastBurstLosesNothingAndShutdownDrains) {
    auto recorder = InputRecorder::start(display_, sink());
    ASSERT_TRUE(recorder);
    std::vector<std::string> args;
    for (int i = 0; i < 50; ++i) args.insert(args.end(), {"mousemove", std::to_string(300 + i), "300"});
    ASSERT_TRUE(xdotool(args));
    ASSERT_TRUE(collect(*recorder, [&] { return events_.size() >= 50; }));
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
    recorder.reset();
}

TEST_F(InputRecorderTest, PhysicalButtonsMapThroughThePointerMapping) {
    ::Display* dpy = connection_->get();
    unsigned char original[32];
    const int n = XGetPointerMapping(dpy, original, 32);
    ASSERT_GE(n, 3);
    std::vector<unsigned char> swapped(original, original + n);
    std::swap(swapped[0], swapped[2]);
    ASSERT_TRUE(x11::testing::waitUntil(
        [&] { return XSetPointerMapping(dpy, swapped.data(), n) == MappingSuccess; }));
    XSync(dpy, False);

    auto recorder = InputRecorder::start(display_, sink());
    ASSERT_TRUE(recorder);
    ASSERT_TRUE(xdotool({"mousemove", "50", "50", "click", "1"}));
    EXPECT_TRUE(collect(*recorder, [&] { return has(Type::Release); }));
    PointerEventTranslator translator(swapped, {});
    for (const auto& e : events_) {
        if (e.type != Type::Press) continue;
        // Recorded as physical 1, which the mapping makes the right button: no left-button event.
        EXPECT_EQ(e.button, 1u);
        EXPECT_EQ(translator.logicalButton(e.button), 3u);
        EXPECT_FALSE(translator.translate(e).has_value());
    }
    EXPECT_TRUE(has(Type::Press));
    ASSERT_TRUE(
        x11::testing::waitUntil([&] { return XSetPointerMapping(dpy, original, n) == MappingSuccess; }));
    XSync(dpy, False);
}

TEST_F(InputRecorderTest, RawEventsGiveButtonsPositionsAndTheStateBeforeTheEvent) {
    auto recorder = RawInputRecorder::start(display_, sink());
    ASSERT_TRUE(recorder);
    // One step at a time: the position is queried after each raw event, so only an event read before the
    // pointer moves on gets its own position (warps themselves produce no raw motion).
    ASSERT_TRUE(xdotool({"mousemove", "30", "40", "mousedown", "1"}));
    ASSERT_TRUE(collect(*recorder, [&] { return has(Type::Press); }));
    ASSERT_TRUE(xdotool({"mouseup", "1"}));
    ASSERT_TRUE(collect(*recorder, [&] { return has(Type::Release); }));
    PointerEventTranslator translator({1, 2, 3, 4, 5, 6, 7}, {});
    std::vector<PointerEvent::Kind> kinds;
    for (const auto& e : events_) {
        if (e.type == Type::Press) {
            EXPECT_EQ(std::tie(e.button, e.x, e.y), std::make_tuple(1u, 30, 40));
            EXPECT_EQ(e.state & Button1Mask, 0u);  // the state before the press
        }
        if (e.type == Type::Release) {
            EXPECT_NE(e.state & Button1Mask, 0u);
        }
        if (auto pe = translator.translate(e); pe && pe->kind != PointerEvent::Kind::Moved)
            kinds.push_back(pe->kind);
    }
    EXPECT_EQ(kinds,
              (std::vector<PointerEvent::Kind>{PointerEvent::Kind::LeftDown, PointerEvent::Kind::LeftUp}));
}

}  // namespace
}  // namespace x11::internal
