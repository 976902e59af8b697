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
    sim.setStandardIBeams({SimCursorImages::iBeam(), SimCursorImages::customIBeam()});
    helper.setup();
    // Every standard text cursor is one, by its pixels alone: the name and size do not count.
    auto renamed = SimCursorImages::customIBeam();
    renamed.name = "renamed";
    renamed.width = 99;
    for (const auto& beam : {SimCursorImages::iBeam(), renamed}) {
        sim.setCursor(beam);
        EXPECT_TRUE(helper.isBeam()) << beam.name;
    }
    sim.setStandardIBeams({SimCursorImages::iBeam()});
    helper.setup();
    for (const auto& other :
         {SimCursorImages::arrow(), SimCursorImages::customIBeam(), SimCursorImages::withoutBitmap()}) {
        sim.setCursor(other);
        EXPECT_FALSE(helper.isBeam()) << other.name;
    }
    sim.setCursor(std::nullopt);
    EXPECT_FALSE(helper.isBeam());
}

}  // namespace
