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
// input. The RECORD path's gestures as a whole are the platform and service tests' part.
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

TEST_F(InputRecorderTest, RecordBurstLosesNothingButtonsArePhysicalAndShutdownDrains) {
    ::Display* dpy = connection_->get();
    unsigned char original[32];
    const int n = XGetPointerMapping(dpy, original, 32);
    ASSERT_GE(n, 3);
    std::vector<unsigned char> swapped(original, original + n);
    std::swap(swapped[0], swapped[2]);
    auto map = [&](const unsigned char* mapping) {
        ASSERT_TRUE(
            x11::testing::waitUntil([&] { return XSetPointerMapping(dpy, mapping, n) == MappingSuccess; }));
        XSync(dpy, False);
    };
    auto recorder = InputRecorder::start(display_, sink());
    ASSERT_TRUE(recorder);
    std::vector<std::string> args;
    for (int i = 0; i < 50; ++i) args.insert(args.end(), {"mousemove", std::to_string(300 + i), "300"});
    ASSERT_TRUE(xdotool(args));
    ASSERT_TRUE(collect(*recorder, [&] { return events_.size() >= 50; }));
    int last = 299;
    for (const auto& e : events_)
        if (e.x >= 300 && e.y == 300) {
            EXPECT_EQ(e.x, ++last);
        }
    EXPECT_EQ(last, 349);

    // A swapped mapping: recorded as physical 1, which is the right button now, so no left-button event.
    map(swapped.data());
    events_.clear();
    ASSERT_TRUE(xdotool({"click", "1"}));
    EXPECT_TRUE(collect(*recorder, [&] { return has(Type::Release); }));
    map(original);
    PointerEventTranslator translator(swapped, {});
    for (const auto& e : events_)
        if (e.type == Type::Press) {
            EXPECT_FALSE(translator.translate(e).has_value()) << e.button;
        }
    EXPECT_TRUE(has(Type::Press));
    // Events still in flight at shutdown must not make the destructor hang.
    ASSERT_TRUE(xdotool({"mousemove", "10", "10", "mousemove", "20", "20"}));
    recorder.reset();
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
    for (const auto& e : events_) {
        if (e.type == Type::Press) {
            EXPECT_EQ(std::tie(e.button, e.x, e.y), std::make_tuple(1u, 30, 40));
            EXPECT_EQ(e.state & Button1Mask, 0u);  // the state before the press
        }
        if (e.type == Type::Release) {
            EXPECT_NE(e.state & Button1Mask, 0u);
        }
    }
}

}  // namespace
}  // namespace x11::internal
