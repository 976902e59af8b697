#include "platform/wayland/internal/DataControl.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <random>

#include "platform/MainQueueScheduler.h"
#include "platform/wayland/internal/PrimarySelectionWatcher.h"
#include "platform/wayland/internal/testing/CompositorTest.h"

namespace wayland::internal {
namespace {

using namespace std::chrono_literals;

class DataControlTest : public wayland::testing::CompositorTest {
  protected:
    void SetUp() override {
        CompositorTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string why;
        control_ = DataControl::create(*connection_, &why);
        ASSERT_TRUE(control_) << why;
    }
    void TearDown() override {
        control_.reset();
        CompositorTest::TearDown();
    }

    // Waits until a peer's offer of `type` is the selection.
    bool offered(Selection selection, const std::string& type) {
        return pumpUntil([&] {
            auto types = control_->types(selection);
            return !control_->isOwn(selection) && std::find(types.begin(), types.end(), type) != types.end();
        });
    }

    static std::string blob(std::size_t size) {
        std::mt19937 random(7);
        std::string data(size, '\0');
        for (auto& c : data) c = static_cast<char>(random());
        return data;
    }

    std::unique_ptr<DataControl> control_;
};

TEST_P(DataControlTest, ReadsPeersSelectionsAndServesItsOwnByteExact) {
    const std::string large = blob(3 << 20);
    auto blobOwner = wlCopy({"--type", "application/x-tandrel-blob"}, large);
    ASSERT_TRUE(offered(Selection::Clipboard, "application/x-tandrel-blob"));
    auto read = control_->read(Selection::Clipboard, "application/x-tandrel-blob", 5s);
    ASSERT_TRUE(read);
    EXPECT_TRUE(std::string(read->begin(), read->end()) == large);
    EXPECT_FALSE(control_->read(Selection::Clipboard, "text/plain", 1s)) << "a type not on offer";

    // An owner that never answers costs the timeout, not a hang.
    kill(blobOwner->pid(), SIGSTOP);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(control_->read(Selection::Clipboard, "application/x-tandrel-blob", 300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    kill(blobOwner->pid(), SIGCONT);

    auto primaryOwner = wlCopy({"--primary"}, "selected words");
    ASSERT_TRUE(offered(Selection::Primary, "text/plain;charset=utf-8"));
    EXPECT_EQ(control_->readText(Selection::Primary, 2s), "selected words");

    // Served back to a real reader: the types in order, every byte of each.
    const std::string text = "h\xc3\xa9llo\n";
    DataControl::Contents contents = {{"text/plain;charset=utf-8", platform::Bytes(text.begin(), text.end())},
                                      {"image/png", platform::Bytes(large.begin(), large.end())}};
    const auto serial = control_->serial(Selection::Clipboard);
    ASSERT_TRUE(control_->serve(Selection::Clipboard, contents));
    ASSERT_TRUE(pumpUntil([&] { return control_->serial(Selection::Clipboard) != serial; }));
    EXPECT_TRUE(control_->isOwn(Selection::Clipboard));
    EXPECT_EQ(runPeer({"wl-paste", "--list-types"}), "text/plain;charset=utf-8\nimage/png\n");
    EXPECT_EQ(runPeer({"wl-paste", "--no-newline", "--type", "text/plain;charset=utf-8"}), text);
    EXPECT_TRUE(runPeer({"wl-paste", "--no-newline", "--type", "image/png"}) == large);
    // Our own selection is answered from memory, never by waiting on ourselves.
    auto own = control_->read(Selection::Clipboard, "image/png", 1s);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->size(), large.size());
    // PRIMARY is left as the peer set it.
    EXPECT_EQ(control_->readText(Selection::Primary, 2s), "selected words");

    // Another client takes it: ours is gone, theirs is read.
    auto other = wlCopy({}, "taken over");
    ASSERT_TRUE(offered(Selection::Clipboard, "text/plain;charset=utf-8"));
    EXPECT_EQ(control_->readText(Selection::Clipboard, 2s), "taken over");
}

TEST_P(DataControlTest, PrimaryIsAnnouncedOnceSettledIgnoringEmptyOwnAndRepeatedOffers) {
    platform::MainQueueScheduler scheduler;
    std::vector<std::string> announced;
    // A long settle time keeps the quick succession below within it even on a loaded machine.
    constexpr auto settle = 600ms;
    PrimarySelectionWatcher watcher(
        *control_, scheduler, [&](const std::string& text) { announced.push_back(text); }, settle);
    auto expectAnnounced = [&](std::vector<std::string> expected, const char* why) {
        SCOPED_TRACE(why);
        pumpUntil([&] { return announced.size() >= expected.size(); });
        pumpFor(settle + 300ms);
        EXPECT_EQ(announced, expected);
    };

    // A drag replaces PRIMARY at every step: only where it settles counts. Each step waits for the
    // previous one to arrive, so that they arrive in order.
    std::vector<std::unique_ptr<x11::testing::ChildProcess>> owners;
    for (const char* step : {"s", "sel", "selection"}) {
        const auto serial = control_->serial(Selection::Primary);
        owners.push_back(wlCopy({"--primary"}, step));
        ASSERT_TRUE(pumpUntil([&] { return control_->serial(Selection::Primary) != serial; }));
    }
    expectAnnounced({"selection"}, "a drag");

    owners.push_back(wlCopy({"--primary"}, "selection"));
    expectAnnounced({"selection"}, "the same text offered again");

    owners.push_back(wlCopy({"--primary", "--clear"}, ""));
    expectAnnounced({"selection"}, "PRIMARY emptied");

    const std::string mine = "served by us";
    control_->serve(Selection::Primary,
                    {{"text/plain;charset=utf-8", platform::Bytes(mine.begin(), mine.end())}});
    expectAnnounced({"selection"}, "our own PRIMARY");

    owners.push_back(wlCopy({"--primary"}, "next words"));
    expectAnnounced({"selection", "next words"}, "a new selection");
}

// Sway only: the peer (wl-copy) cannot set PRIMARY on KWin 5.27, whose data-control device sends no first
// primary_selection event, which wl-copy takes for no support. KWin's PRIMARY is read from GTK end to end.
INSTANTIATE_TEST_SUITE_P(, DataControlTest, ::testing::Values(::wayland::testing::Compositor::Kind::Sway),
                         ::wayland::testing::compositorName);

}  // namespace
}  // namespace wayland::internal
