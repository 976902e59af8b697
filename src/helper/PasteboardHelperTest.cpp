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

// What the desktops' clipboards cannot do on demand: a type that fails to read while the others read.
TEST(PasteboardHelperTest, SaveKeepsEveryReadableTypeInOrderAndRestoreAndInsertReplaceTheContents) {
    platform::sim::SimPlatform sim;
    PasteboardHelper helper(sim.generalPasteboard(), sim.keyboard());
    const std::vector<PasteboardItem> original = {
        item({{"public.utf8-plain-text", "hello"}, {"public.rtf", "{\\rtf1 hello}"}}),
        item({{"public.png", std::string("\x89PNG\0\x01", 6)}}),
    };
    sim.pasteboard().copyFromOtherApplication(original);
    sim.pasteboard().setUnreadableType("public.png");

    // The unreadable type is left out; its item stays even when nothing of it could be read.
    const auto saved = helper.savePasteboardItems();
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0], original[0]);
    EXPECT_TRUE(saved[1].empty());

    sim.pasteboard().copyFromOtherApplication({item({{"public.utf8-plain-text", "other"}})});
    const auto before = sim.pasteboard().changeCount();
    helper.restorePasteboardItems(saved);
    EXPECT_EQ(sim.pasteboard().snapshot(), saved);
    EXPECT_EQ(sim.pasteboard().typesOfItem(0),
              (std::vector<std::string>{"public.utf8-plain-text", "public.rtf"}));
    EXPECT_EQ(sim.pasteboard().changeCount(), before + 1);

    // Inserted text replaces everything with plain text only.
    helper.copyTextToPasteboard("inserted");
    EXPECT_EQ(sim.pasteboard().snapshot(),
              (std::vector<PasteboardItem>{item({{"public.utf8-plain-text", "inserted"}})}));
}

}  // namespace
