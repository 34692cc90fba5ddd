// Multiple input streams through the whole chain: the stream passed is
// switched while the signal runs, and the new one comes out whole from its
// next frame on.
#include "ChainReception.h"

#include <gtest/gtest.h>

TEST(InputStreams, SwitchingWhileRunningLosesNothingOfTheNewStream)
{
    tx::TxSettings tx;
    tx.modcods = {4};
    tx.pilots = true;
    tx.isis = {1, 2};
    tx.services = {"FIRST", "SECOND"};
    tx.noise = true;
    tx.esn0Db = 8;
    ReceiverSettings rx;
    rx.ldpcThreads = 2;
    const int frames = 40;
    int chunks = 0;
    int passedBefore = -1;
    const testsupport::ChainReception r = testsupport::receive(tx, frames, rx, [&](ProcessingChain& chain) {
        if (++chunks == 300) {   // about half way
            // The first stream seen (the first frame may fail: either).
            passedBefore = chain.inputStream();
            chain.selectInputStream(passedBefore == 1 ? 2 : 1);
        }
    });
    EXPECT_TRUE(passedBefore == 1 || passedBefore == 2) << passedBefore;
    // Read once the chain is through: up to a high water of blocks may
    // still be on their way when the last samples go in.
    EXPECT_EQ(r.inputStreamAtEnd, 3 - passedBefore);
    EXPECT_EQ(r.damagedPackets, 0u);
    // The stream's counters step once, where the streams change, and never
    // after: nothing of the second stream is lost after its next frame.
    EXPECT_LE(r.counterSteps, 1u);
    // Half the frames are each stream's, 21 packets each, four in five of
    // them the counter's: 336 of 20 frames. Lost: the first frame and the
    // part packets either side of the switch.
    EXPECT_GE(r.packets, 300u);
}
