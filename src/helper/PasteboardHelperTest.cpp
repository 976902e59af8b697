#include "helper/PasteboardHelper.h"

#include <gtest/gtest.h>

#include "platform/sim/SimPlatform.h"

namespace {

using platform::PasteboardItem;

PasteboardItem item(std::initializer_list<std::pair<std::string, std::string>> entries) {
    PasteboardItem result;
    for (const auto& [type, data] : entries) result.setStringForType(data, type);
    return result;
}

TEST(PasteboardHelperTest, SaveKeepsEveryItemAndTypeInOrderRestoreAndInsertReplaceTheContents) {
    platform::sim::SimPlatform sim;
    PasteboardHelper helper(sim.generalPasteboard(), sim.keyboard());
    const std::vector<PasteboardItem> original = {
        item({{"public.utf8-plain-text", "hello"}, {"public.rtf", "{\\rtf1 hello}"}}),
        item({{"public.png", std::string("\x89PNG\0\x01", 6)}}),
    };
    sim.pasteboard().copyFromOtherApplication(original);

    const auto saved = helper.savePasteboardItems();
    EXPECT_EQ(saved, original);

    sim.pasteboard().copyFromOtherApplication({item({{"public.utf8-plain-text", "other"}})});
    const auto before = sim.pasteboard().changeCount();
    helper.restorePasteboardItems(saved);
    EXPECT_EQ(sim.pasteboard().snapshot(), original);
    EXPECT_EQ(sim.pasteboard().typesOfItem(0),
              (std::vector<std::string>{"public.utf8-plain-text", "public.rtf"}));
    EXPECT_EQ(sim.pasteboard().changeCount(), before + 1);

    // An unreadable type is left out; the item stays even when nothing of it could be read.
    sim.pasteboard().setUnreadableType("public.png");
    const auto partial = helper.savePasteboardItems();
    ASSERT_EQ(partial.size(), 2u);
    EXPECT_EQ(partial[0], original[0]);
    EXPECT_TRUE(partial[1].empty());

    // An empty pasteboard saves as nothing and restores as empty.
    sim.pasteboard().clearContents();
    const auto none = helper.savePasteboardItems();
    EXPECT_TRUE(none.empty());
    sim.pasteboard().copyFromOtherApplication(original);
    helper.restorePasteboardItems(none);
    EXPECT_EQ(sim.pasteboard().itemCount(), 0u);

    // Inserted text replaces everything with plain text only.
    sim.pasteboard().copyFromOtherApplication(original);
    helper.copyTextToPasteboard("inserted");
    EXPECT_EQ(sim.pasteboard().snapshot(),
              (std::vector<PasteboardItem>{item({{"public.utf8-plain-text", "inserted"}})}));
    helper.copyTextToPasteboard("");
    EXPECT_EQ(sim.pasteboard().firstString(), "");
}

TEST(PasteboardHelperTest, KeyStrokesAreCommandChordsPostedAtTheHidLevel) {
    platform::sim::SimPlatform sim;
    PasteboardHelper helper(sim.generalPasteboard(), sim.keyboard());
    auto app = sim.addApplication(7, "Editor");
    sim.setFrontmost(app);

    helper.simulateCopy();
    helper.simulatePaste();
    const auto& posted = sim.postedKeyEvents();
    ASSERT_EQ(posted.size(), 4u);
    const std::uint16_t codes[] = {8, 8, 9, 9};
    for (std::size_t i = 0; i < posted.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(posted[i].location, platform::EventTapLocation::HIDEventTap);
        EXPECT_EQ(posted[i].event.keyCode, codes[i]);
        EXPECT_EQ(posted[i].event.keyDown, i % 2 == 0);
        EXPECT_EQ(posted[i].event.flags, 0x100000u);
        EXPECT_EQ(posted[i].event.sourceState, platform::EventSourceStateID::CombinedSessionState);
        EXPECT_EQ(posted[i].event.localEventsFilterDuringSuppressionInterval, 5u);
    }
    EXPECT_EQ(app->copyKeyStrokes(), 1);
    EXPECT_EQ(app->pastes().size(), 1u);
}

}  // namespace
