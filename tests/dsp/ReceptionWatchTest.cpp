#include "receiver/ReceptionWatch.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

// DVB-S2: receiving while frames arrive at the demodulator and they decode;
// two frame lengths without a frame, or two failed frames in a row, end it.
TEST(ReceptionWatch, FramesMustArriveAndDecode)
{
    ReceptionWatch w;
    EXPECT_FALSE(w.receiving(true)) << "nothing heard yet";
    w.demodulated(8192, 33282);
    EXPECT_FALSE(w.receiving(true)) << "a frame arrived but none decoded yet";
    w.frameReleased(true);
    EXPECT_TRUE(w.receiving(true));

    // One failure is tolerated, the second in a row is not.
    w.frameReleased(false);
    EXPECT_TRUE(w.receiving(true));
    w.frameReleased(false);
    EXPECT_FALSE(w.receiving(true));
    w.frameReleased(true);
    EXPECT_TRUE(w.receiving(true));

    // Blocks without a frame: up to two frame lengths.
    for (int b = 0; b < 8; ++b)
        w.demodulated(8192, 0);
    EXPECT_TRUE(w.receiving(true)) << "65536 symbols, within two frames of 33282";
    w.demodulated(8192, 0);
    EXPECT_FALSE(w.receiving(true)) << "73728 symbols without a frame";
    w.demodulated(8192, 8370);   // a short frame
    EXPECT_TRUE(w.receiving(true));
    w.demodulated(8192, 0);
    w.demodulated(8192, 0);
    EXPECT_TRUE(w.receiving(true)) << "16384 symbols: within two short frames";
    w.demodulated(8192, 0);
    EXPECT_FALSE(w.receiving(true)) << "two short frames' length passed";

    w.demodulated(100, 33282);
    w.reset();
    EXPECT_FALSE(w.receiving(true));
}

TEST(ReceptionWatch, DvbsFollowsTheOuterSync)
{
    ReceptionWatch w;
    EXPECT_FALSE(w.receiving(false));
    w.dvbsSynchronised(true);
    EXPECT_TRUE(w.receiving(false));
    EXPECT_FALSE(w.receiving(true)) << "the standards are judged apart";
    w.dvbsSynchronised(false);
    EXPECT_FALSE(w.receiving(false));
}

TEST(ReceptionWatch, InputStallsAfterHalfASecond)
{
    ReceptionWatch w;
    const auto t0 = ReceptionWatch::Clock::now();
    EXPECT_EQ(w.inputStalledFor(t0 + 10s), ReceptionWatch::Clock::duration::zero()) << "before the first sample";
    w.samplesArrived(t0);
    EXPECT_EQ(w.inputStalledFor(t0 + 499ms), ReceptionWatch::Clock::duration::zero());
    EXPECT_EQ(w.inputStalledFor(t0 + 6s), ReceptionWatch::Clock::duration(6s));
    w.samplesArrived(t0 + 6s);
    EXPECT_EQ(w.inputStalledFor(t0 + 6100ms), ReceptionWatch::Clock::duration::zero());
}
