// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/SelectionServer.h"

#include <X11/Xatom.h>

#include "platform/x11/internal/SelectionReader.h"
#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

using namespace std::chrono_literals;
using x11::testing::waitUntil;

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7919 + i / 251) & 0xff);
    return s;
}

class SelectionServerTest : public x11::testing::XvfbTest {
  protected:
    // What xclip reads from the clipboard for a target while this thread serves `connection_`.
    std::string served(const std::string& target) {
        return clipboard(target, [&] { connection_->waitFor([](const XEvent&) { return false; }, 2ms); });
    }
};

TEST_F(SelectionServerTest, ServesEveryTargetByteForByteAndLargeOnesIncrementally) {
    // What an application offered, text, HTML and a large image, restored by this process.
    const char* names[] = {"UTF8_STRING", "text/html", "image/png"};
    const std::string values[] = {"h\xc3\xa9llo clipboard", "<b>h\xc3\xa9llo</b>", pattern(1 << 20)};
    std::vector<SelectionData> saved;
    for (size_t i = 0; i < 3; ++i)
        saved.push_back({connection_->atom(names[i]), connection_->atom(names[i]), 8, values[i]});
    const ::Atom clipboard = connection_->atom("CLIPBOARD");
    SelectionServer restorer(*connection_, clipboard);
    ASSERT_GT(values[2].size(), restorer.incrementalThreshold());
    bool lost = false;
    restorer.setOnLost([&] { lost = true; });
    ASSERT_TRUE(restorer.own(saved));
    EXPECT_EQ(XGetSelectionOwner(connection_->get(), clipboard), restorer.window());
    // Served to another client (xclip).
    for (size_t i : {1, 0, 2}) EXPECT_EQ(served(names[i]), values[i]) << names[i];
    const std::string targets = served("TARGETS");
    for (const char* t : {"TARGETS", "TIMESTAMP", "MULTIPLE", "UTF8_STRING", "text/html", "image/png"})
        EXPECT_NE(targets.find(t), std::string::npos) << t << " missing from " << targets;
    EXPECT_EQ(served("application/x-unknown"), "<xclip failed>");  // refused, not served empty
    EXPECT_EQ(restorer.activeTransfers(), 0u);

    // Its own reader on the same connection is served too (the request is answered while it waits), and
    // reads the large target incrementally as well.
    SelectionReader reader(*connection_);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(reader.read(clipboard, saved[i].target, 1000ms).value_or(SelectionData{}), saved[i])
            << names[i];

    // Another owner ends the service.
    auto other = xclipOwn("clipboard", "other");
    EXPECT_TRUE(waitUntil([&] {
        connection_->dispatchPending();
        return lost;
    }));
    EXPECT_FALSE(restorer.owns());
}

TEST_F(SelectionServerTest, ReadingWithoutOwnerOrAnswerIsBounded) {
    SelectionReader reader(*connection_);
    ::Atom nobody = connection_->atom("_TANDREL_NOBODY");
    EXPECT_FALSE(reader.readText(nobody, 100ms));
    // An owner that never answers: the read gives up after its timeout.
    auto mute = Connection::open(display_);
    ::Window window = XCreateSimpleWindow(mute->get(), mute->root(), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(mute->get(), nobody, window, CurrentTime);
    XSync(mute->get(), False);
    auto started = Clock::now();
    EXPECT_FALSE(reader.read(nobody, connection_->atom("UTF8_STRING"), 100ms));
    EXPECT_LT(Clock::now() - started, 1s);
}

}  // namespace
}  // namespace x11::internal
