// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/SelectionServer.h"

#include "platform/x11/internal/SelectionReader.h"
#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

using namespace std::chrono_literals;

class SelectionServerTest : public x11::testing::XvfbTest {};

// Other clients reading the served clipboard (xclip, the service's clients) and another owner taking it
// over are the end-to-end tests' part.
// Here: this process reading what it serves itself, on the same connection, as it does when a gesture comes
// while it restores the user's clipboard.
TEST_F(SelectionServerTest, ServesItsOwnReaderByteForByteAndRefusesTargetsNotOffered) {
    std::string image(1 << 20, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 7919 + i / 251) & 0xff);
    const std::vector<SelectionData> saved = {
        {connection_->atom("UTF8_STRING"), connection_->atom("UTF8_STRING"), 8, "h\xc3\xa9llo"},
        {connection_->atom("image/png"), connection_->atom("image/png"), 8, image}};
    const ::Atom clipboard = connection_->atom("CLIPBOARD");
    SelectionServer restorer(*connection_, clipboard);
    ASSERT_GT(image.size(), restorer.incrementalThreshold());
    ASSERT_TRUE(restorer.own(saved));

    SelectionReader reader(*connection_);
    for (const auto& value : saved)
        EXPECT_TRUE(reader.read(clipboard, value.target, 1000ms) == value) << value.bytes.size() << " bytes";
    // A target not offered is refused, not served empty.
    EXPECT_FALSE(reader.read(clipboard, connection_->atom("application/x-unknown"), 1000ms));
    EXPECT_EQ(restorer.activeTransfers(), 0u);
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
