#include "helper/CursorHelper.h"

#include <gtest/gtest.h>

#include "platform/sim/SimPlatform.h"

namespace {

using platform::sim::SimCursorImages;

TEST(CursorHelperTest, RecognisesOnlyTheStandardIBeam) {
    platform::sim::SimPlatform sim;
    CursorHelper helper(sim.cursors());

    sim.setCursor(SimCursorImages::iBeam());
    EXPECT_FALSE(helper.isBeam()) << "before setup the hash is compared with 0";
    EXPECT_EQ(helper.ibeamHash(), 0u);

    helper.setup();
    EXPECT_EQ(helper.ibeamHash(), CursorHelper::imageHash(SimCursorImages::iBeam()));
    EXPECT_TRUE(helper.isBeam());
    EXPECT_TRUE(helper.isBeam()) << "same cursor, same answer";

    for (const auto& other :
         {SimCursorImages::arrow(), SimCursorImages::pointingHand(), SimCursorImages::resizeLeftRight(),
          SimCursorImages::customIBeam(), SimCursorImages::withoutBitmap()}) {
        sim.setCursor(other);
        EXPECT_FALSE(helper.isBeam()) << other.name;
    }
    sim.setCursor(std::nullopt);
    EXPECT_FALSE(helper.isBeam());
    EXPECT_GE(sim.cursorReads(), 9) << "nothing is cached";
}

TEST(CursorHelperTest, HashCoversPixelBytesOnlyAndRecordsEveryStandardTextCursor) {
    auto ibeam = SimCursorImages::iBeam();
    const auto hash = CursorHelper::imageHash(ibeam);
    ibeam.name = "renamed";
    ibeam.width = 99;
    EXPECT_EQ(CursorHelper::imageHash(ibeam), hash);
    EXPECT_NE(CursorHelper::imageHash(SimCursorImages::customIBeam()), hash);

    platform::sim::SimPlatform sim;
    sim.setStandardIBeams({SimCursorImages::iBeam(), SimCursorImages::customIBeam()});
    CursorHelper helper(sim.cursors());
    helper.setup();
    EXPECT_EQ(helper.ibeamHash(), hash) << "the canonical I-beam first";
    sim.setCursor(SimCursorImages::customIBeam());
    EXPECT_TRUE(helper.isBeam());

    sim.setStandardIBeams({});
    helper.setup();
    EXPECT_EQ(helper.ibeamHash(), 0u);
    EXPECT_FALSE(helper.isBeam());
}

TEST(CursorHelperTest, KeepsItsVerdictWhileThePlatformReportsTheSameCursorSerial) {
    platform::sim::SimPlatform sim;
    sim.setReportsCursorSerials(true);
    CursorHelper helper(sim.cursors());
    helper.setup();
    sim.setCursor(SimCursorImages::iBeam());
    EXPECT_TRUE(helper.isBeam());
    EXPECT_TRUE(helper.isBeam());
    EXPECT_EQ(sim.cursorReads(), 1);
    sim.setCursor(SimCursorImages::arrow());
    EXPECT_FALSE(helper.isBeam());
    EXPECT_FALSE(helper.isBeam());
    EXPECT_EQ(sim.cursorReads(), 2);
    helper.setup();  // new hashes: the verdict is recomputed
    EXPECT_FALSE(helper.isBeam());
    EXPECT_EQ(sim.cursorReads(), 3);
}

}  // namespace
