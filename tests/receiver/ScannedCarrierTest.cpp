// The carriers list a scan leaves: which offset a carrier is reported at,
// and how the list follows later looks at the band (carriers staying,
// arriving, leaving, one from the width given way to a measurement).
#include "receiver/ScannedCarrier.h"

#include <gtest/gtest.h>

namespace {

SurveyedCarrier surveyed(double offsetHz, double rate, bool measured = true, double esn0 = 10)
{
    SurveyedCarrier c;
    c.offsetHz = offsetHz;
    c.symbolRate = rate;
    c.rateMeasured = measured;
    c.widthRate = rate;
    c.esn0Db = esn0;
    return c;
}

CarrierIdentity decoded(const char* modcod, double loopOffsetHz)
{
    CarrierIdentity id;
    id.decoded = true;
    id.modcod = modcod;
    id.offsetHz = loopOffsetHz;
    return id;
}

} // namespace

TEST(ScannedCarrier, ADecodedCarrierIsWhereTheLoopHeldItOthersWhereTheSpectrumPutIt)
{
    std::vector<ScannedCarrier> list =
        scannedCarriers({surveyed(-400000, 250000), surveyed(300000, 125000), surveyed(700000, 100000)},
                        {decoded("QPSK 1/2 normal", -401234), CarrierIdentity()});
    ASSERT_EQ(list.size(), 3u);
    EXPECT_TRUE(list[0].decodes());
    EXPECT_DOUBLE_EQ(list[0].offsetHz(), -401234);
    EXPECT_TRUE(list[1].visited());
    EXPECT_FALSE(list[1].decodes());
    EXPECT_DOUBLE_EQ(list[1].offsetHz(), 300000);
    EXPECT_FALSE(list[2].visited()) << "not reached yet";
    EXPECT_DOUBLE_EQ(list[2].offsetHz(), 700000);
}

TEST(ScannedCarrier, TwoLooksSeeTheSameCarrierWithinAQuarterOfItsRate)
{
    EXPECT_TRUE(sameCarrier(surveyed(0, 1e6), surveyed(240000, 1.04e6)));
    EXPECT_FALSE(sameCarrier(surveyed(0, 1e6), surveyed(300000, 1e6))) << "too far off";
    EXPECT_FALSE(sameCarrier(surveyed(0, 1e6), surveyed(0, 0.9e6))) << "another rate";
    // Carriers touching at their skirts are two.
    EXPECT_FALSE(sameCarrier(surveyed(-500000, 1e6), surveyed(850000, 1e6)));
    EXPECT_FALSE(sameCarrier(surveyed(0, 0), surveyed(0, 0)));
}

TEST(ScannedCarrier, TheListFollowsCarriersThatStayArriveAndLeave)
{
    std::vector<ScannedCarrier> list =
        scannedCarriers({surveyed(-400000, 250000), surveyed(300000, 125000, false)},
                        {decoded("8PSK 3/5 normal", -400100), CarrierIdentity()});

    // The same band, a little louder, the second carrier now measured:
    // what decoding told stays, the level follows, the measurement replaces
    // the width's guess.
    EXPECT_FALSE(followBand(list, {surveyed(-399000, 250100, true, 12), surveyed(301000, 125500, true, 9)}));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[0].decodes());
    EXPECT_EQ(list[0].identity->modcod, "8PSK 3/5 normal");
    EXPECT_DOUBLE_EQ(list[0].surveyed.esn0Db, 12);
    EXPECT_DOUBLE_EQ(list[0].surveyed.symbolRate, 250000) << "a measured rate stands";
    EXPECT_TRUE(list[1].surveyed.rateMeasured);
    EXPECT_DOUBLE_EQ(list[1].surveyed.symbolRate, 125500);

    // A carrier arrives below the others: listed in frequency order, unvisited.
    EXPECT_TRUE(followBand(list, {surveyed(-800000, 50000), surveyed(-400000, 250000), surveyed(300000, 125000)}));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_DOUBLE_EQ(list[0].surveyed.offsetHz, -800000);
    EXPECT_FALSE(list[0].visited());
    EXPECT_TRUE(list[1].decodes());

    // The decoded one misses a look (a fade): kept; a second miss: gone.
    EXPECT_FALSE(followBand(list, {surveyed(-800000, 50000), surveyed(300000, 125000)}));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].missed, 1);
    EXPECT_TRUE(followBand(list, {surveyed(-800000, 50000), surveyed(300000, 125000)}));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_DOUBLE_EQ(list[0].surveyed.offsetHz, -800000);
    EXPECT_DOUBLE_EQ(list[1].surveyed.offsetHz, 301000);

    // Seen again after one miss: the count starts over.
    EXPECT_FALSE(followBand(list, {surveyed(300000, 125000)}));
    EXPECT_FALSE(followBand(list, {surveyed(-800000, 50000), surveyed(300000, 125000)}));
    EXPECT_EQ(list[0].missed, 0);

    // Nothing on the band any more: all gone after two looks.
    followBand(list, {});
    EXPECT_TRUE(followBand(list, {}));
    EXPECT_TRUE(list.empty());
}
