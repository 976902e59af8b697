#include "helper/CursorHelper.h"

#include <gtest/gtest.h>

#include "platform/sim/SimPlatform.h"

namespace {

using platform::sim::SimCursorImages;

TEST(CursorHelperTest, RecognisesOnlyTheStandardTextCursorsByTheirPixels) {
    platform::sim::SimPlatform sim;
    CursorHelper helper(sim.cursors());
    sim.setCursor(SimCursorImages::iBeam());
    EXPECT_FALSE(helper.isBeam()) << "before setup the hash is compared with 0";
    helper.setup();
    EXPECT_TRUE(helper.isBeam());
    for (const auto& other :
         {SimCursorImages::arrow(), SimCursorImages::customIBeam(), SimCursorImages::withoutBitmap()}) {
        sim.setCursor(other);
        EXPECT_FALSE(helper.isBeam()) << other.name;
    }
    sim.setCursor(std::nullopt);
    EXPECT_FALSE(helper.isBeam());

    // Only the pixel bytes count.
    auto renamed = SimCursorImages::iBeam();
    renamed.name = "renamed";
    renamed.width = 99;
    EXPECT_EQ(CursorHelper::imageHash(renamed), helper.ibeamHash());
    // Every standard text cursor is recorded; with none, nothing is one.
    sim.setStandardIBeams({SimCursorImages::iBeam(), SimCursorImages::customIBeam()});
    helper.setup();
    sim.setCursor(SimCursorImages::customIBeam());
    EXPECT_TRUE(helper.isBeam());
    sim.setStandardIBeams({});
    helper.setup();
    EXPECT_FALSE(helper.isBeam());
}

}  // namespace
