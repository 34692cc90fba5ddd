// DVB-S2 physical layer: PLS code, PL scrambling sequence, frame geometry and
// constellations.
#include "TxTestData.h"

#include "tx/Constellations.h"
#include "tx/Modcod.h"
#include "tx/Dvbs2Transmitter.h"
#include "tx/PlFramer.h"
#include "tx/TsBbFramer.h"

#include <gtest/gtest.h>

#include <bitset>
#include <cmath>
#include <set>

using namespace tx;

namespace {

// The first-order Reed–Muller code RM(1, 6) evaluated directly: position i of
// the 64 (first sent = 0) is the affine function a0 ⊕ Σ a_k · bit_k(i).
uint64_t reedMuller(int pls)
{
    const int modcod = pls >> 2, shortFrame = pls >> 1 & 1, pilots = pls & 1;
    uint64_t word = 0;
    for (int i = 0; i < 64; ++i) {
        int c = shortFrame ^ (pilots & i);
        for (int k = 0; k < 5; ++k) // MODCOD bit 4 (MSB) pairs with position bit 1
            c ^= (modcod >> (4 - k) & 1) & (i >> (k + 1) & 1);
        word |= uint64_t(c) << (63 - i);
    }
    return word;
}

TEST(PlsCode, All128CodesAreTheReedMullerCodewords)
{
    std::set<uint64_t> seen;
    for (int pls = 0; pls < 128; ++pls) {
        const uint64_t code = plsCodeword(pls);
        EXPECT_EQ(code, reedMuller(pls)) << "PLS " << pls;
        seen.insert(code);
    }
    ASSERT_EQ(seen.size(), 128u);
    int minimum = 64;
    for (uint64_t a : seen)
        for (uint64_t b : seen)
            if (a != b)
                minimum = std::min(minimum, int(std::bitset<64>(a ^ b).count()));
    EXPECT_EQ(minimum, 32);
}

TEST(PlsCode, HeaderIsPiOver2BpskOfSofAndScrambledCode)
{
    PlFramer framer;
    cf32 h[kPlHeaderSymbols];
    const int pls = plsCode(4, false, true); // QPSK 1/2, normal, pilots: 17
    ASSERT_EQ(pls, 17);
    framer.header(pls, h);
    const uint64_t code = plsCodeword(pls) ^ kPlsScrambling;
    for (int i = 0; i < kPlHeaderSymbols; ++i) {
        const int bit = i < 26 ? int(kSof >> (25 - i) & 1) : int(code >> (89 - i) & 1);
        // Even symbols on the +45°/−135° diagonal, odd ones on +135°/−45°.
        const float expectedI = (i % 2 == 0 ? 1.0f : -1.0f) * (bit ? -1.0f : 1.0f) / std::sqrt(2.0f);
        const float expectedQ = (bit ? -1.0f : 1.0f) / std::sqrt(2.0f);
        EXPECT_NEAR(h[i].real(), expectedI, 1e-6) << "symbol " << i;
        EXPECT_NEAR(h[i].imag(), expectedQ, 1e-6) << "symbol " << i;
    }
}

// The sequence R(i) of code 0 by the receivers' register form (the second
// component taken from taps of the running registers) against the direct
// formula R(i) = 2 z((i + 131072) mod (2^18 − 1)) + z(i).
TEST(PlScrambling, DirectFormulaMatchesTheRegisterForm)
{
    const std::vector<uint8_t> direct = plScramblingSequence(0, 33192);
    uint32_t x = 1, y = 0x3FFFF;
    auto bit = [](uint32_t r, int i) { return int(r >> i & 1); };
    for (int i = 0; i < 33192; ++i) {
        const int z = bit(x, 0) ^ bit(y, 0);
        const int z2 = (bit(x, 4) ^ bit(x, 6) ^ bit(x, 15))
            ^ (bit(y, 5) ^ bit(y, 6) ^ bit(y, 8) ^ bit(y, 9) ^ bit(y, 10) ^ bit(y, 11) ^ bit(y, 12) ^ bit(y, 13)
               ^ bit(y, 14) ^ bit(y, 15));
        ASSERT_EQ(direct[size_t(i)], z + 2 * z2) << "i = " << i;
        x = (x >> 1) | uint32_t(bit(x, 0) ^ bit(x, 7)) << 17;
        y = (y >> 1) | uint32_t(bit(y, 0) ^ bit(y, 5) ^ bit(y, 7) ^ bit(y, 10)) << 17;
    }
    // Code 0 starts with x(0) = 1 and y all ones, so R(0) = 0 + 2 z(131072).
    EXPECT_EQ(direct[0] & 1, 0);
}

// R(i) of code 0 read off the independent transmitter's first QPSK 1/2 PLFRAME:
// each symbol divided by its unscrambled value (data from its FECFRAME with
// QPSK 00 at 45°, 10 at 135°, 11 at 225°, 01 at 315°; pilots (1 + j)/√2).
TEST(PlScrambling, FirstValuesOfCode0MatchTheIndependentTransmitter)
{
    const std::vector<uint8_t> fec = readTxData("s2_qpsk12_normal_pilots_fecframes.bin");
    const std::vector<cf32> pl = readTxSymbols("s2_qpsk12_normal_pilots_plsymbols.cf32");
    const std::vector<uint8_t> r = plScramblingSequence(0, 33282 - 90);
    const float a = 1.0f / std::sqrt(2.0f);
    int data = 0, compared = 0;
    for (int i = 0; i < 33282 - 90; ++i) {
        const int inPeriod = i % (16 * 90 + 36);
        cf32 plain(a, a); // pilot
        if (inPeriod < 16 * 90) {
            const int b0 = fec[size_t(2 * data / 8)] >> (7 - (2 * data) % 8) & 1;
            const int b1 = fec[size_t((2 * data + 1) / 8)] >> (7 - (2 * data + 1) % 8) & 1;
            plain = cf32(b0 ? -a : a, b1 ? -a : a);
            ++data;
        }
        const cf32 rotation = pl[size_t(90 + i)] / plain; // j^R
        const int measured = int(std::lround(std::arg(rotation) / (M_PI / 2)) + 4) % 4;
        ASSERT_EQ(r[size_t(i)], measured) << "R(" << i << ")";
        ++compared;
    }
    EXPECT_EQ(data, 32400);
    EXPECT_EQ(compared, 33192);
}

TEST(PlScrambling, DummyFrameIsScrambledUnmodulatedCarrier)
{
    PlFramer framer;
    std::vector<cf32> frame;
    framer.dummyFrame(frame);
    ASSERT_EQ(frame.size(), 3330u);
    const std::vector<uint8_t> r = plScramblingSequence(0, 3240);
    const cf32 carrier(1.0f / std::sqrt(2.0f), 1.0f / std::sqrt(2.0f));
    for (size_t i = 0; i < r.size(); ++i) {
        const cf32 expected = carrier * std::pow(cf32(0.0f, 1.0f), float(r[i]));
        ASSERT_LT(std::abs(frame[90 + i] - expected), 1e-6f) << "symbol " << i;
    }
}

// Every data MODCOD in both frame sizes, with and without pilots: the frame
// has its length and header, pilot blocks sit after every 16 slots (not after
// the last), and every other body symbol is a point of the MODCOD's
// constellation once the PL scrambling is removed.
TEST(PlFrame, EveryModcodFrameSizeAndPilotSetting)
{
    const std::vector<uint8_t> r = plScramblingSequence(0, 33192);
    PlFramer reference;
    int frames = 0;
    for (int m = 1; m <= 28; ++m) {
        for (FrameSize f : {FrameSize::Normal, FrameSize::Short}) {
            FecParams p;
            if (!fecParams(m, f, p))
                continue;
            for (bool pilots : {false, true}) {
                SCOPED_TRACE(std::string(modcodInfo(m).name) + (f == FrameSize::Short ? " short" : " normal")
                             + (pilots ? " pilots" : ""));
                TsFileSource ts(txDataPath("agreement.ts"), true);
                TsBbFramer framer(ts, RollOff::R035);
                Dvbs2Config config;
                config.modcods = {m};
                config.frame = f;
                config.pilots = pilots;
                Dvbs2Transmitter tx(config, framer);
                std::vector<cf32> s;
                tx.nextFrame(s);
                ASSERT_EQ(int(s.size()), plframeSymbols(m, f, pilots));
                cf32 header[90];
                reference.header(plsCode(m, f == FrameSize::Short, pilots), header);
                for (int i = 0; i < 90; ++i)
                    ASSERT_LT(std::abs(s[size_t(i)] - header[i]), 1e-6f) << "header symbol " << i;
                const std::vector<cf32> points = constellationPoints(m);
                const int slots = slotsPerFrame(m, f);
                int pilotSymbols = 0;
                for (size_t i = 0; i + 90 < s.size(); ++i) {
                    const cf32 v = s[90 + i];
                    const cf32 undo[4] = {v, cf32(v.imag(), -v.real()), -v, cf32(-v.imag(), v.real())};
                    const cf32 plain = undo[r[i]]; // v · j^(−R)
                    const int period = 16 * 90 + 36;
                    const bool pilot = pilots && int(i) % period >= 16 * 90;
                    if (pilot) {
                        ++pilotSymbols;
                        ASSERT_LT(std::abs(plain - cf32(1.0f, 1.0f) / std::sqrt(2.0f)), 1e-5f) << i;
                    } else {
                        float nearest = 10.0f;
                        for (cf32 q : points)
                            nearest = std::min(nearest, std::abs(plain - q));
                        ASSERT_LT(nearest, 1e-5f) << "body symbol " << i;
                    }
                }
                EXPECT_EQ(pilotSymbols, pilots ? 36 * ((slots - 1) / 16) : 0);
                ++frames;
            }
        }
    }
    EXPECT_EQ(frames, (28 + 24) * 2);
}

// Every PLFRAME length, with and without pilots (EN 302 307-1 §5.5.3: a pilot
// block after every 16 slots but none after the last slot, so 32APSK normal
// frames of 144 slots carry 8 blocks: 13338 symbols).
TEST(Modcod, FrameLengthsAreTheStandardOnes)
{
    std::set<int> lengths;
    for (int m = 1; m <= 28; ++m)
        for (FrameSize f : {FrameSize::Normal, FrameSize::Short})
            for (bool pilots : {false, true})
                lengths.insert(plframeSymbols(m, f, pilots));
    const std::set<int> expected = {3330, 3402, 4140, 4212, 5490, 5598, 8190, 8370,
                                    13050, 13338, 16290, 16686, 21690, 22194, 32490, 33282};
    lengths.insert(plframeSymbols(0, FrameSize::Normal, false));
    EXPECT_EQ(lengths, expected);
}

TEST(Modcod, NamesAndImpossibleDataModcods)
{
    EXPECT_EQ(modcodFromName("QPSK 1/2"), 4);
    EXPECT_EQ(modcodFromName(" 8psk  2/3 "), 13);
    EXPECT_EQ(modcodFromName("32APSK 9/10"), 28);
    EXPECT_EQ(modcodFromName("QPSK 7/8"), -1);
    FecParams p;
    EXPECT_TRUE(fecParams(11, FrameSize::Normal, p));
    EXPECT_EQ(p.kbch, 58192);
    for (int m : {11, 17, 23, 28})
        EXPECT_NE(dataModcodError(m, FrameSize::Short).find("short"), std::string::npos) << m;
    EXPECT_NE(dataModcodError(0, FrameSize::Normal).find("dummy"), std::string::npos);
    EXPECT_NE(dataModcodError(30, FrameSize::Normal).find("reserved"), std::string::npos);
    ASSERT_TRUE(fecParams(12, FrameSize::Short, p));
    EXPECT_EQ(p.codeIndex, 15); // 8PSK 3/5 short: table C.5
    EXPECT_EQ(p.kbch, 9552);
}

TEST(Constellations, UnitMeanEnergyAndRingRatios)
{
    for (int m = 1; m <= 28; ++m) {
        const std::vector<cf32> p = constellationPoints(m);
        ASSERT_EQ(int(p.size()), 1 << bitsPerSymbol(modcodInfo(m).constellation)) << m;
        double energy = 0;
        std::set<long> radii;
        for (cf32 v : p) {
            energy += std::norm(v);
            radii.insert(std::lround(std::abs(v) * 1e5));
        }
        EXPECT_NEAR(energy / double(p.size()), 1.0, 1e-5) << modcodInfo(m).name;
        const std::vector<double> r(radii.begin(), radii.end());
        if (m >= 18 && m <= 23) {
            ASSERT_EQ(r.size(), 2u);
            EXPECT_NEAR(r[1] / r[0], apskGamma1(m), 1e-4) << modcodInfo(m).name;
        } else if (m >= 24) {
            ASSERT_EQ(r.size(), 3u);
            EXPECT_NEAR(r[1] / r[0], apskGamma1(m), 1e-4) << modcodInfo(m).name;
            EXPECT_NEAR(r[2] / r[0], apskGamma2(m), 1e-4) << modcodInfo(m).name;
        } else {
            EXPECT_EQ(r.size(), 1u);
        }
    }
    EXPECT_DOUBLE_EQ(apskGamma1(18), 3.15);
    EXPECT_DOUBLE_EQ(apskGamma2(28), 4.30);
}

// Gray property where the standard's figures have it: QPSK and 8PSK
// neighbours differ in one bit; the 16APSK inner ring carries labels 11xx.
TEST(Constellations, LabelsFollowTheStandardFigures)
{
    for (int m : {4, 13}) {
        const std::vector<cf32> p = constellationPoints(m);
        const int n = int(p.size());
        for (int a = 0; a < n; ++a) {
            // The nearest other point differs from a in exactly one bit.
            int nearest = -1;
            for (int b = 0; b < n; ++b)
                if (b != a && (nearest < 0 || std::abs(p[b] - p[a]) < std::abs(p[nearest] - p[a]) - 1e-6f))
                    nearest = b;
            for (int b = 0; b < n; ++b)
                if (std::abs(std::abs(p[b] - p[a]) - std::abs(p[nearest] - p[a])) < 1e-5f) {
                    EXPECT_EQ(std::bitset<8>(a ^ b).count(), 1u) << modcodInfo(m).name << " " << a << " " << b;
                }
        }
    }
    const std::vector<cf32> apsk16 = constellationPoints(19);
    for (int label = 0; label < 16; ++label)
        EXPECT_EQ(std::abs(apsk16[size_t(label)]) < 0.5f, (label >> 2) == 3) << label;
    // 000 sits at π/4 in 8PSK, 001 at 0, 100 at π/2 (figure 10).
    const std::vector<cf32> psk8 = constellationPoints(13);
    EXPECT_NEAR(std::arg(psk8[0]), M_PI / 4, 1e-6);
    EXPECT_NEAR(std::arg(psk8[1]), 0.0, 1e-6);
    EXPECT_NEAR(std::arg(psk8[4]), M_PI / 2, 1e-6);
}

} // namespace
