// Every MODCOD through the whole chain from the test transmitter, a little
// above the Es/N0 at which the standard's decoder runs quasi-error-free
// (EN 302 307-1 table 13, normal frames on AWGN): after the first decoded
// frame none is lost and every packet is the one sent.
#include "ChainReception.h"

#include "demod/PlSignalling.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using testsupport::ChainReception;

namespace {

// Table 13's Es/N0 (dB) by MODCOD 1–28.
constexpr double kQuasiErrorFreeDb[29] = {
    0,     -2.35, -1.24, -0.30, 1.00,  2.23,  3.10,  4.03,  4.68,  5.18,  6.20,  6.42,  5.50,  6.62, 7.91,
    9.35,  10.69, 10.98, 8.97,  10.21, 11.03, 11.61, 12.89, 13.13, 12.73, 13.64, 14.28, 15.69, 16.05,
};

struct Case {
    int modcod;
    bool shortFrame;
    bool pilots;
    double marginDb;
};

std::string describe(const Case& c)
{
    return std::string(s2ModcodRow(c.modcod).name) + (c.shortFrame ? " short" : " normal") +
           (c.pilots ? " pilots" : "") + " at +" + std::to_string(c.marginDb).substr(0, 3) + " dB";
}

// Frames after the first decoded one that were lost (failed or never
// found; the last, which no header follows, is not counted).
int lostAfterFirst(const Case& c, uint32_t seed = 1)
{
    tx::TxSettings tx;
    tx.modcods = {c.modcod};
    tx.pilots = c.pilots;
    tx.frame = c.shortFrame ? tx::FrameSize::Short : tx::FrameSize::Normal;
    tx.symbolRate = 1000000;
    tx.sampleRate = 2000000;
    tx.noise = true;
    tx.esn0Db = kQuasiErrorFreeDb[c.modcod] + c.marginDb;
    tx.seed = seed;
    ReceiverSettings rx;
    rx.sampleRate = uint64_t(tx.sampleRate);
    rx.symbolRate = int32_t(tx.symbolRate);
    rx.ldpcThreads = 2;
    const int frames = c.shortFrame ? 40 : 16;
    const ChainReception r = testsupport::receive(tx, frames, rx);
    SCOPED_TRACE(describe(c));
    std::string marks;
    for (int32_t result : r.results)
        marks += result >= 0 ? '+' : '-';
    std::printf("%s: %d decoded, %d failed, %d lost after the first; %s\n", describe(c).c_str(), r.decoded, r.failed,
                r.framesLostAfterFirst(), marks.c_str());
    EXPECT_GE(r.decoded, frames - 1 - 4) << "the first decoded among the first four";
    EXPECT_EQ(r.damagedPackets, 0u);
    EXPECT_EQ(r.decodedWhileNotReceiving, 0);
    return r.framesLostAfterFirst();
}

} // namespace

// The code rates DATV stations use, within 0.6 dB of the threshold; 16APSK
// 2/3 without pilots, whose outer ring only the data's decisions track
// between headers, among them.
TEST(Modcods, ApskDecodesNearItsThreshold)
{
    for (const Case c : {Case{18, false, false, 0.6}, Case{19, false, false, 0.6}, Case{25, false, true, 0.6},
                         Case{24, true, false, 0.6}})
        EXPECT_EQ(lostAfterFirst(c), 0) << describe(c);
}

// Every MODCOD, both frame sizes (9/10 has no short frame), with and without
// pilots, 1 dB above the threshold (the DATV APSK rates 0.6 dB).
TEST(ModcodsLong, EveryModcodNearItsThreshold)
{
    int lost = 0;
    for (int modcod = 1; modcod <= 28; ++modcod)
        for (bool shortFrame : {false, true})
            for (bool pilots : {true, false}) {
                if (shortFrame && (modcod == 11 || modcod == 17 || modcod == 23 || modcod == 28))
                    continue;
                const bool datvApsk = modcod == 18 || modcod == 19 || modcod == 24 || modcod == 25;
                const Case c{modcod, shortFrame, pilots, datvApsk ? 0.6 : 1.0};
                const int here = lostAfterFirst(c);
                EXPECT_EQ(here, 0) << describe(c);
                lost += here;
            }
    std::printf("%d frames lost after the first decoded\n", lost);
}
