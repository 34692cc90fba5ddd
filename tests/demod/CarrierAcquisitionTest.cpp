// Coarse carrier acquisition on the PLHEADER: the measurement, and when it
// may and may not touch the carrier loop.
#include "demod/CarrierAcquisition.h"
#include "demod/CarrierLoop.h"
#include "demod/PlSignalling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

namespace {

using cf = std::complex<float>;

// The SOF and header of a QPSK 1/2 normal frame with pilots, turned by a
// carrier of `cycles` per symbol from the phase `phase0` (rad), with noise at
// `esn0` dB, into `acquisition`; returns the descrambled header bits. The
// PLS code symbols marked in `turned` (the first in bit 63) are sent negated.
uint64_t sendHeader(CarrierAcquisition& acquisition, double cycles, double phase0, double esn0, std::mt19937& rng,
                    uint64_t turned = 0)
{
    const uint64_t code = encodePlsHeader(0x44);
    const uint64_t sent = code ^ kPlHeaderScrambling;
    std::normal_distribution<double> noise(0, std::sqrt(std::pow(10, -esn0 / 10) / 2));
    for (int p = 0; p < CarrierAcquisition::kSymbols; ++p) {
        const uint32_t bit = p < 26 ? (kSofBits >> (25 - p)) & 1u : uint32_t((sent >> (63 - (p - 26))) & 1u);
        const bool negated = p >= 26 && ((turned >> (63 - (p - 26))) & 1u);
        const double sign = (bit != 0) != negated ? -M_SQRT1_2 : M_SQRT1_2;
        const std::complex<double> symbol = p % 2 == 0 ? std::complex<double>(sign, sign) : std::complex<double>(sign, -sign);
        const std::complex<double> z = symbol * std::polar(1.0, phase0 + 2 * M_PI * cycles * p) +
                                       std::complex<double>(noise(rng), noise(rng));
        acquisition.store(p, cf(z));
    }
    return code;
}

CarrierLoop enabledLoop()
{
    CarrierLoop loop;
    loop.setGains(0.5f, 2.0f / 2048);
    loop.setEnabled(true);
    return loop;
}

} // namespace

// 0.2 % of the symbol rate at 4 dB: one header puts the integrator within the
// loop's reach and the oscillator on the last header symbol's phase; the
// average over more headers closes in further.
TEST(CarrierAcquisition, OneHeaderSetsIntegratorAndPhaseFromTheCarrier)
{
    std::mt19937 rng(11);
    int within = 0;
    for (int trial = 0; trial < 50; ++trial) {
        CarrierAcquisition acquisition;
        CarrierLoop loop = enabledLoop();
        const double phase0 = 0.1 * trial;
        acquisition.headerDone(sendHeader(acquisition, 2e-3, phase0, 4, rng), false, loop);
        ASSERT_EQ(acquisition.corrections, 1);
        EXPECT_EQ(loop.frequency, loop.integrator);
        EXPECT_NEAR(loop.integrator, 0.512, 0.3);
        within += std::fabs(loop.integrator - 0.512) < 0.15;
        // The phase the carrier has at symbol 89, 65536 per cycle.
        const double expected = std::fmod(phase0 / (2 * M_PI) + 2e-3 * 89, 1.0) * 65536;
        double off = std::fabs(double(loop.phase) - expected);
        off = std::min(off, 65536 - off);
        EXPECT_LT(off, 65536 / 16.0) << trial;   // within 22.5°
    }
    EXPECT_GE(within, 45);

    CarrierAcquisition acquisition;
    CarrierLoop loop = enabledLoop();
    for (int h = 0; h < 16; ++h)
        acquisition.headerDone(sendHeader(acquisition, -2e-3, 1.0, 4, rng), false, loop);
    EXPECT_EQ(acquisition.headers(), 16);
    EXPECT_NEAR(acquisition.estimate(), -0.512, 0.06);
}

// A loop whose headers have followed each other in place holds the carrier:
// one header reading it off, however clearly, does not move it; a second
// that agrees does. Before that, one header acts alone.
TEST(CarrierAcquisition, AHoldingLoopWaitsForTwoHeadersThatAgree)
{
    std::mt19937 rng(17);
    for (int trial = 0; trial < 20; ++trial) {
        CarrierAcquisition acquisition;
        CarrierLoop loop = enabledLoop();
        acquisition.headerDone(sendHeader(acquisition, 2e-3, 0.1 * trial, 4, rng), false, loop, 4.0f, true);
        EXPECT_EQ(acquisition.corrections, 0) << trial;
        EXPECT_EQ(loop.integrator, 0.0f);
        acquisition.headerDone(sendHeader(acquisition, 2e-3, 0.1 * trial, 4, rng), false, loop, 4.0f, true);
        EXPECT_EQ(acquisition.corrections, 1) << trial;
        EXPECT_NEAR(loop.integrator, 0.512, 0.3);

        CarrierAcquisition fresh;
        CarrierLoop searching = enabledLoop();
        fresh.headerDone(sendHeader(fresh, 2e-3, 0.1 * trial, 4, rng), false, searching, 4.0f, false);
        EXPECT_EQ(fresh.corrections, 1) << trial;
    }
}

// The mean of the headers' readings is tested again at every header: by
// chance it stands three of its spreads out in about one acquisition in a
// hundred, and moved a loop on the carrier (QPSK 1/2 at 1.3 dB: fifteen
// frames lost while it came back). A loop that holds the carrier is moved
// only beyond four and a half; a carrier truly off is still taken.
TEST(CarrierAcquisition, AHoldingLoopIsNotMovedByTheMeansChance)
{
    std::mt19937 rng(23);
    int thrownOffHolding = 0, thrownOffSearching = 0;
    const int trials = 400;
    for (int trial = 0; trial < trials; ++trial)
        for (bool holding : {true, false}) {
            CarrierAcquisition acquisition;
            CarrierLoop loop = enabledLoop();
            for (int h = 0; h < 16; ++h)
                acquisition.headerDone(sendHeader(acquisition, 0.0, 0.3 * trial + h, 1.3, rng), false, loop, 1.3f,
                                       holding);
            (holding ? thrownOffHolding : thrownOffSearching) += acquisition.corrections > 0;
        }
    std::printf("thrown off: holding %d, searching %d of %d\n", thrownOffHolding, thrownOffSearching, trials);
    EXPECT_LE(thrownOffHolding, 1);
    EXPECT_GE(thrownOffSearching, 2);

    int taken = 0;
    for (int trial = 0; trial < 50; ++trial) {
        CarrierAcquisition acquisition;
        CarrierLoop loop = enabledLoop();
        for (int h = 0; h < 4; ++h)
            acquisition.headerDone(sendHeader(acquisition, 0.5 / 256, 0.2 * trial + h, 1.3, rng), false, loop, 1.3f,
                                   true);
        taken += acquisition.corrections == 1 && std::fabs(loop.integrator - 0.5f) < 0.2f;
    }
    EXPECT_GE(taken, 45);
}

// One header's reading scatters as 1/√(Es/N0): told a low Es/N0, the
// average waits until it stands out of that, so a loop already on the
// carrier is not thrown off near the threshold, and a carrier truly off is
// still taken at once.
TEST(CarrierAcquisition, LowEsN0WidensWhatCountsAsNoise)
{
    // The spread it assumes is what one header's reading scatters by.
    std::mt19937 rng(5);
    for (float esn0 : {-2.0f, 1.3f, 4.0f, 10.0f}) {
        double sum = 0, sumSquares = 0;
        const int trials = 400;
        for (int t = 0; t < trials; ++t) {
            CarrierAcquisition a;
            CarrierLoop loop = enabledLoop();
            a.headerDone(sendHeader(a, 0.0, 0.3 * t, esn0, rng), false, loop, 100.0f);   // measure only
            sum += a.estimate();
            sumSquares += double(a.estimate()) * a.estimate();
        }
        const double mean = sum / trials;
        const double spread = std::sqrt(sumSquares / trials - mean * mean);
        EXPECT_NEAR(CarrierAcquisition::headerSpread(esn0), spread, 0.2 * spread) << esn0;
    }

    int thrownOffTold = 0, thrownOffBlind = 0;
    for (int trial = 0; trial < 200; ++trial) {
        for (bool told : {true, false}) {
            CarrierAcquisition acquisition;
            CarrierLoop loop = enabledLoop();
            for (int h = 0; h < 8; ++h)
                acquisition.headerDone(sendHeader(acquisition, 0.0, 0.2 * trial, -2.0, rng), false, loop,
                                       told ? -2.0f : NAN);
            (told ? thrownOffTold : thrownOffBlind) += acquisition.corrections > 0;
        }
    }
    EXPECT_LE(thrownOffTold, 5);   // a 3σ rule tested at every header
    EXPECT_GT(thrownOffBlind, 3 * thrownOffTold) << thrownOffBlind << " thrown off not told, " << thrownOffTold << " told";

    // A carrier truly off by 0.5 (2 kHz at 1 Msym/s) at 3 dB is taken
    // from the first header that shows it.
    int taken = 0;
    for (int trial = 0; trial < 50; ++trial) {
        CarrierAcquisition acquisition;
        CarrierLoop loop = enabledLoop();
        acquisition.headerDone(sendHeader(acquisition, 0.5 / 256, 0.2 * trial, 3.0, rng), false, loop, 3.0f);
        taken += acquisition.corrections == 1 && std::fabs(loop.integrator - 0.5f) < 0.2f;
    }
    EXPECT_GE(taken, 40);
}

// A carrier drifting (an LNB warming up) under a loop that follows it: each
// header finds the loop on the carrier of its time, so nothing is corrected,
// although the average of the carrier itself lags the drift by far more than
// its noise (it was corrected back, and frames were lost).
TEST(CarrierAcquisition, ALoopFollowingADriftIsLeftAlone)
{
    std::mt19937 rng(23);
    CarrierAcquisition acquisition;
    CarrierLoop loop = enabledLoop();
    for (int h = 0; h < 40; ++h) {
        const float carrier = 0.2f + 0.02f * float(h);   // 1/256 cycle per symbol
        loop.integrator = carrier;
        loop.frequency = carrier;
        acquisition.headerDone(sendHeader(acquisition, carrier / 256.0, 0.3, 8, rng), false, loop, 8.0f);
    }
    EXPECT_EQ(acquisition.corrections, 0);
    EXPECT_LT(acquisition.estimate(), 0.2f + 0.02f * 39 - 0.3f) << "the average itself lags";

    // The same loop standing still while the carrier drifts away is moved.
    CarrierAcquisition second;
    CarrierLoop still = enabledLoop();
    for (int h = 0; h < 40 && second.corrections == 0; ++h)
        second.headerDone(sendHeader(second, (0.2 + 0.02 * h) / 256.0, 0.3, 8, rng), false, still, 8.0f);
    EXPECT_EQ(second.corrections, 1);
}

// A loop already near the carrier, a disabled loop or locked framing are
// left exactly as they were; locked or disabled, the average starts over.
TEST(CarrierAcquisition, LeavesTheLoopAloneWhenNearDisabledOrLocked)
{
    std::mt19937 rng(3);
    CarrierAcquisition acquisition;
    CarrierLoop loop = enabledLoop();
    loop.integrator = 0.02f;
    loop.frequency = 0.03f;
    loop.phase = 1234;
    for (int h = 0; h < 20; ++h)
        acquisition.headerDone(sendHeader(acquisition, 1e-4, 0.3, 20, rng), false, loop);
    EXPECT_EQ(acquisition.corrections, 0);
    EXPECT_EQ(acquisition.headers(), 20);
    EXPECT_NEAR(acquisition.estimate(), 0.0256, 0.005);
    EXPECT_EQ(loop.integrator, 0.02f);
    EXPECT_EQ(loop.frequency, 0.03f);
    EXPECT_EQ(loop.phase, 1234);

    for (bool enabled : {false, true}) {
        CarrierAcquisition a;
        CarrierLoop l;
        l.setEnabled(enabled);
        l.phase = 777;
        a.headerDone(sendHeader(a, 3e-3, 0, 20, rng), false, l);   // measured, maybe applied
        const int before = a.corrections;
        l.integrator = 0;
        l.frequency = 0;
        a.headerDone(sendHeader(a, 3e-3, 0, 20, rng), /*locked*/ enabled, l);
        EXPECT_EQ(a.corrections, before);
        EXPECT_EQ(a.headers(), 0);
        EXPECT_EQ(l.integrator, 0.0f);
        EXPECT_EQ(l.frequency, 0.0f);
        if (!enabled) {
            EXPECT_EQ(before, 0);
            EXPECT_EQ(l.phase, 777);
        }
    }
}

// A header whose symbols lie far from any code word's (misread, or no
// header at all) does not enter the average, read at the loop's carrier or
// at its own.
TEST(CarrierAcquisition, MisreadHeaderIsNotMeasured)
{
    std::mt19937 rng(8);
    CarrierAcquisition acquisition;
    CarrierLoop loop = enabledLoop();
    constexpr uint64_t kEight = 0x0101010101010101ull, kFour = 0x0101010100000000ull;
    const uint64_t code = sendHeader(acquisition, 2e-3, 0, 20, rng, kEight);
    acquisition.headerDone(code ^ kEight, false, loop);
    EXPECT_EQ(acquisition.headers(), 0);
    EXPECT_EQ(loop.integrator, 0.0f);
    sendHeader(acquisition, 2e-3, 0, 20, rng, kFour);
    acquisition.headerDone(code ^ kFour, false, loop);
    EXPECT_EQ(acquisition.headers(), 1);
    EXPECT_EQ(acquisition.corrections, 1);
}

// A loop off the carrier turns the header's last symbols past their bits
// however strong the signal: read at the loop's carrier the header shows
// more errors than a misread one, but read at the carrier it shows itself
// it is clean, and it sets the loop.
TEST(CarrierAcquisition, AHeaderTurnedByTheLoopsOffsetIsMeasured)
{
    std::mt19937 rng(9);
    CarrierAcquisition acquisition;
    CarrierLoop loop = enabledLoop();
    constexpr double kCycles = 3.5e-3;   // a quarter turn from the SOF to the header's end
    const uint64_t code = sendHeader(acquisition, kCycles, 0.2, 8, rng);
    const uint64_t atLoop = acquisition.headerBitsAt(0) ^ kPlHeaderScrambling;
    ASSERT_GT(__builtin_popcountll(atLoop ^ code), 6);
    ASSERT_EQ(decodePlsHeader(atLoop), decodePlsHeader(code));
    acquisition.headerDone(atLoop, false, loop);
    EXPECT_EQ(acquisition.headers(), 1);
    EXPECT_EQ(acquisition.corrections, 1);
    EXPECT_NEAR(loop.integrator, kCycles * 256, 0.15);
}


// Once a header's code word is known, all 90 symbols read the carrier: at
// any offset up to a quarter of the symbol rate, several times finer than
// the SOF alone, and the spread it reports is the one it shows.
TEST(CarrierAcquisition, TheWholeHeaderReadsTheCarrierFinerThanTheSof)
{
    std::mt19937 rng(21);
    for (double cycles : {0.1, -0.2, 0.003}) {
        double sofSquares = 0, headerSquares = 0, reportedSpread = 0;
        constexpr int kTrials = 200;
        for (int trial = 0; trial < kTrials; ++trial) {
            CarrierAcquisition acquisition;
            const uint64_t code = sendHeader(acquisition, cycles, 0.05 * trial, 3, rng);
            // A few bits wrong: the code word they decode to is the reference.
            const CarrierAcquisition::HeaderReading header = acquisition.readHeader(code ^ 0x0000010000100000ull);
            const double truth = cycles * 256;
            sofSquares += std::pow(acquisition.readSof().frequency - truth, 2);
            headerSquares += std::pow(header.frequency - truth, 2);
            reportedSpread += header.spread;
        }
        const double sofSpread = std::sqrt(sofSquares / kTrials), headerSpread = std::sqrt(headerSquares / kTrials);
        SCOPED_TRACE(cycles);
        EXPECT_LT(headerSpread, 0.15);   // 1/256 cycle per symbol
        EXPECT_LT(headerSpread, sofSpread / 3);
        EXPECT_NEAR(reportedSpread / kTrials, headerSpread, 0.5 * headerSpread);
    }
}
