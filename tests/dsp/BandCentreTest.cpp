// Finding a carrier's band in an averaged spectrum, and the move of the
// mixer travelling down the chain with its block.
#include "dsp/BandCentre.h"
#include "dsp/RecentTransforms.h"
#include "receiver/CarrierCentring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <tuple>

namespace {

// N bins of averaged magnitude: noise of mean power 1, a root-raised-cosine
// band (roll-off 0.35) of `level` above it, `width` bins at −3 dB, centred
// on bin N/2 + `centre`; the magnitudes fluctuate by `spread` (relative).
std::vector<float> spectrum(int n, double centre, double width, double level, double spread, std::mt19937& rng)
{
    std::normal_distribution<double> jitter(0, spread > 0 ? spread : 1.0);
    std::vector<float> bins(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        const double f = std::fabs(k - n / 2 - centre) / width;   // in symbol rates
        double shape = 0;
        if (f <= 0.325)
            shape = 1;
        else if (f <= 0.675)
            shape = 0.5 * (1 + std::cos(M_PI * (f - 0.325) / 0.35));
        const double power = (1 + level * shape) * (spread > 0 ? std::max(0.05, 1 + jitter(rng)) : 1.0);
        bins[size_t(k)] = float(std::sqrt(power));
    }
    return bins;
}

} // namespace

TEST(BandCentre, FindsTheBandWhereverItIsWithinTheSearch)
{
    std::mt19937 rng(3);
    const int n = 2048;
    const double width = 512;   // Rs = fs/4
    for (double centre : {-150.0, -40.5, 0.0, 77.25, 150.0}) {
        for (double level : {0.6, 4.0, 30.0}) {
            SCOPED_TRACE(testing::Message() << "centre " << centre << " bins, level " << level);
            const BandCentre b = findBandCentre(spectrum(n, centre, width, level, 0.3, rng), width / n, 0, 0.3 * width / n);
            ASSERT_TRUE(b.found);
            // A weak band in a spectrum of a few blocks: a few per cent of
            // the symbol rate, which the framing's own reading takes over.
            EXPECT_NEAR(b.centre * n, centre, (level < 1 ? 0.04 : 0.015) * width);
            EXPECT_NEAR(b.level, level * 0.83, level * 0.3);   // the window's mean over the roll-off
        }
    }
}

TEST(BandCentre, NoiseANarrowSearchAndAStrongerNeighbour)
{
    std::mt19937 rng(4);
    const int n = 2048;
    const double width = 256;
    // Noise alone: nothing stands above the floor.
    EXPECT_FALSE(findBandCentre(spectrum(n, 0, width, 0, 0.3, rng), width / n, 0, 0.3 * width / n).found);
    // A band too weak to tell from the floor.
    EXPECT_FALSE(findBandCentre(spectrum(n, 0, width, 0.05, 0.3, rng), width / n, 0, 0.3 * width / n).found);
    // Two carriers: the search stays within its reach of the mixer, where
    // the weaker one is, and finds it.
    std::vector<float> both = spectrum(n, -500, width, 2, 0.2, rng);
    const std::vector<float> other = spectrum(n, 500, width, 20, 0, rng);
    for (size_t k = 0; k < both.size(); ++k)
        both[k] = std::sqrt(both[k] * both[k] + other[k] * other[k] - 1);
    const BandCentre b = findBandCentre(both, width / n, -480.0 / n, 0.3 * width / n);
    ASSERT_TRUE(b.found);
    EXPECT_NEAR(b.centre * n, -500, 0.03 * width);
    // Nonsense sizes give nothing rather than a guess.
    EXPECT_FALSE(findBandCentre(std::vector<float>(16, 1.0f), 0.25, 0, 0.1).found);
    EXPECT_FALSE(findBandCentre(both, 2.0, 0, 0.1).found);
}

// A weak carrier on a crowded band, strong carriers over most of the rest:
// the floor is read beside the weak one, and the centre never wanders off
// towards a neighbour.
TEST(BandCentre, AWeakCarrierOnACrowdedBand)
{
    std::mt19937 rng(5);
    const int n = 1024;
    const double width = 13;   // 125 ksym/s in 1024 bins of a 10 Msps band
    std::vector<float> band = spectrum(n, -358, width, 4, 0.1, rng);
    // Neighbours, 20 to 30 dB over the floor, taking up 70 % of the band.
    for (auto [centre, rate, level] : {std::tuple{-266.0, 34.0, 60.0}, {-100.0, 102.0, 300.0},
                                       {164.0, 205.0, 900.0}, {380.0, 154.0, 200.0}, {-420.0, 4.0, 250.0}}) {
        const std::vector<float> other = spectrum(n, centre, rate, level, 0, rng);
        for (size_t k = 0; k < band.size(); ++k)
            band[k] = std::sqrt(band[k] * band[k] + other[k] * other[k] - 1);
    }
    const BandCentre b = findBandCentre(band, width / n, -354.0 / n, 0.3 * width / n);
    ASSERT_TRUE(b.found);
    EXPECT_NEAR(b.centre * n, -358, 0.1 * width);
    EXPECT_NEAR(b.level, 4 * 0.83, 4 * 0.3);
}

// One transform's magnitudes: each bin's power spread as an exponential
// about the band's shape (as the spectrum helper's, without its jitter).
std::vector<float> oneTransform(int n, double centre, double width, double level, std::mt19937& rng)
{
    std::vector<float> bins = spectrum(n, centre, width, level, 0, rng);
    std::exponential_distribution<double> spread(1.0);
    for (float& b : bins)
        b = float(double(b) * std::sqrt(spread(rng)));
    return bins;
}

TEST(BandCentre, OneTransformsNoiseIsNoBandWhereAWeakBandIs)
{
    std::mt19937 rng(5);
    const int n = 2048;
    const double width = 1024;   // 2 samples per symbol
    int noiseFound = 0, bandsFound = 0, bandsNear = 0;
    for (int trial = 0; trial < 50; ++trial) {
        if (findBandCentre(oneTransform(n, 0, width, 0, rng), width / n, 0, 0.3 * width / n, 0.3,
                           kSingleTransformMedianToMean)
                .found)
            ++noiseFound;
        // A band at Es/N0 0 dB, a fifth of the symbol rate off.
        const BandCentre b = findBandCentre(oneTransform(n, 200, width, 1.0, rng), width / n, 0, 0.3 * width / n, 0.3,
                                            kSingleTransformMedianToMean);
        bandsFound += b.found ? 1 : 0;
        bandsNear += b.found && std::fabs(b.centre * n - 200) < 0.05 * width ? 1 : 0;
    }
    EXPECT_EQ(noiseFound, 0);
    EXPECT_EQ(bandsFound, 50);
    EXPECT_GE(bandsNear, 48);
    // Read as if averaged, the same noise passes for a band nearly always.
    int misread = 0;
    for (int trial = 0; trial < 20; ++trial)
        misread += findBandCentre(oneTransform(n, 0, width, 0, rng), width / n, 0, 0.3 * width / n).found ? 1 : 0;
    EXPECT_GE(misread, 15);
}

// The mean of a few transforms: noise read with the ratio for that many is
// no band, and a band's centre strays less than from one transform alone
// (each estimate of the chain's band search reads the last four).
TEST(BandCentre, AveragedTransformsSteadyTheEstimate)
{
    // The ratios against noise drawn here.
    std::mt19937 rng(9);
    for (int count : {2, 4, 8}) {
        std::exponential_distribution<double> power(1.0);
        std::vector<double> squares(40000);
        double sum = 0;
        for (double& p : squares) {
            double m = 0;
            for (int k = 0; k < count; ++k)
                m += std::sqrt(power(rng));
            p = (m / count) * (m / count);
            sum += p;
        }
        std::nth_element(squares.begin(), squares.begin() + long(squares.size() / 2), squares.end());
        EXPECT_NEAR(averagedTransformsMedianToMean(count), squares[squares.size() / 2] / (sum / double(squares.size())), 0.01)
            << count;
    }
    EXPECT_EQ(averagedTransformsMedianToMean(1), kSingleTransformMedianToMean);
    EXPECT_EQ(averagedTransformsMedianToMean(20), averagedTransformsMedianToMean(8));

    const int n = 2048, depth = 4;
    const double width = 1024;   // 2 samples per symbol
    auto averaged = [&](double level) {
        RecentTransforms recent(depth);
        for (int k = 0; k < depth + 2; ++k)
            recent.add(oneTransform(n, 200, width, level, rng));
        std::vector<float> mean;
        EXPECT_EQ(recent.mean(mean), depth);
        return mean;
    };
    const double ratio = averagedTransformsMedianToMean(depth);
    int noiseFound = 0;
    double singleSquares = 0, averagedSquares = 0;
    const int trials = 40;
    for (int trial = 0; trial < trials; ++trial) {
        noiseFound += findBandCentre(averaged(0), width / n, 0, 0.3 * width / n, 0.3, ratio).found ? 1 : 0;
        // A band at Es/N0 3 dB, a fifth of the symbol rate off.
        const BandCentre one = findBandCentre(oneTransform(n, 200, width, 2.0, rng), width / n, 0, 0.3 * width / n,
                                              0.3, kSingleTransformMedianToMean);
        const BandCentre four = findBandCentre(averaged(2.0), width / n, 0, 0.3 * width / n, 0.3, ratio);
        ASSERT_TRUE(one.found && four.found);
        singleSquares += std::pow(one.centre * n - 200, 2);
        averagedSquares += std::pow(four.centre * n - 200, 2);
    }
    EXPECT_EQ(noiseFound, 0);
    // Four times the transforms: half the spread, give or take the draws.
    EXPECT_LT(std::sqrt(averagedSquares / trials), 0.65 * std::sqrt(singleSquares / trials));
    std::printf("centre's spread, %% of the symbol rate: one transform %.2f, four %.2f\n",
                100 * std::sqrt(singleSquares / trials) / width, 100 * std::sqrt(averagedSquares / trials) / width);
}

// Estimates from a running mean agree with each other because they share
// transforms: on a narrow weak band a stray centre, read again from nearly
// the same spectra, must not pass for the band; compared with an estimate
// from transforms of its own, it rarely does, and the band itself still
// gets through.
TEST(BandConfirmation, ANarrowBandsStrayCentreIsNotConfirmedByItsOwnEcho)
{
    std::mt19937 rng(17);
    const int n = 2048, depth = 4;
    const double width = 34;   // 33 ksym/s at 2 Msps
    const double rate = width / n, tolerance = 0.02 * rate;
    RecentTransforms recent(depth);
    BandConfirmation consecutive(depth), independent(depth);
    int strayConsecutive = 0, strayIndependent = 0, bandIndependent = 0;
    std::vector<float> mean;
    for (uint64_t t = 1; t <= 3000; ++t) {
        recent.add(oneTransform(n, 0, width, 1.5, rng));
        const int transforms = recent.mean(mean);
        const BandCentre band =
            findBandCentre(mean, rate, 0, 0.3 * rate, 0.3, averagedTransformsMedianToMean(transforms));
        const bool stray = std::fabs(band.centre) > 0.1 * rate;
        if (consecutive.agrees(band, t, 1, tolerance) && stray)
            ++strayConsecutive;
        if (independent.agrees(band, t, transforms, tolerance)) {
            if (stray)
                ++strayIndependent;
            else
                ++bandIndependent;
        }
    }
    std::printf("stray centres confirmed: by the next estimate %d, by their own transforms' %d; the band %d times\n",
                strayConsecutive, strayIndependent, bandIndependent);
    EXPECT_LT(strayIndependent * 5, strayConsecutive);
    EXPECT_GT(bandIndependent, 100);
}

// Confirmation looks back `lag` transforms, skips what is not found, and
// starts again where the numbering does.
TEST(BandConfirmation, LooksBackPastTheSharedTransforms)
{
    const double tolerance = 0.01;
    auto at = [](double centre, bool found = true) { return BandCentre{found, centre, 1.0}; };
    BandConfirmation c(4);
    EXPECT_FALSE(c.agrees(at(0.10), 1, 1, tolerance));
    EXPECT_FALSE(c.agrees(at(0.10), 2, 2, tolerance));   // shares transform 1
    EXPECT_FALSE(c.agrees(at(0.10), 3, 3, tolerance));
    EXPECT_FALSE(c.agrees(at(0.10), 4, 4, tolerance));
    EXPECT_TRUE(c.agrees(at(0.105), 5, 4, tolerance));   // against transform 1's
    EXPECT_FALSE(c.agrees(at(0.13), 6, 4, tolerance));   // transform 2's is 0.03 away
    EXPECT_TRUE(c.agrees(at(0.125), 7, 1, tolerance));   // the previous one, when asked
    EXPECT_FALSE(c.agrees(at(0.125, false), 8, 1, tolerance));
    EXPECT_FALSE(c.agrees(at(0.125), 9, 1, tolerance));   // the one before found nothing
    EXPECT_FALSE(c.agrees(at(0.125), 1, 1, tolerance));   // numbered from 1 again
    EXPECT_TRUE(c.agrees(at(0.125), 2, 1, tolerance));
    c.clear();
    EXPECT_FALSE(c.agrees(at(0.125), 3, 1, tolerance));
}

// The last few spectra: the mean of those held, at most `depth` of them, the
// oldest going first; one of another size starts again.
TEST(RecentTransforms, AveragesTheLastFew)
{
    RecentTransforms recent(3);
    std::vector<float> mean{42.0f};
    EXPECT_EQ(recent.mean(mean), 0);
    EXPECT_EQ(mean, std::vector<float>{42.0f});
    for (float v : {1.0f, 2.0f, 3.0f, 10.0f})
        recent.add({v, 2 * v});
    EXPECT_EQ(recent.mean(mean), 3);
    EXPECT_EQ(mean, (std::vector<float>{5.0f, 10.0f}));   // 2, 3 and 10
    recent.add({4.0f, 4.0f});
    EXPECT_EQ(recent.mean(mean), 3);
    ASSERT_EQ(mean.size(), 2u);   // 3, 10 and 4
    EXPECT_FLOAT_EQ(mean[0], 17.0f / 3);
    EXPECT_FLOAT_EQ(mean[1], 10.0f);
    recent.add({6.0f, 6.0f, 6.0f});
    EXPECT_EQ(recent.mean(mean), 1);
    EXPECT_EQ(mean, (std::vector<float>{6.0f, 6.0f, 6.0f}));
    recent.clear();
    EXPECT_EQ(recent.mean(mean), 0);
}

TEST(CarrierCentring, MovesOnlyWhenFarOffAndOneAtATime)
{
    EXPECT_EQ(CarrierCentring::moveFor(0.04, false), 0.0);
    EXPECT_EQ(CarrierCentring::moveFor(-0.06, false), -0.06);
    EXPECT_EQ(CarrierCentring::moveFor(0.1, true), 0.0);   // locked: only beyond 12 %
    EXPECT_EQ(CarrierCentring::moveFor(0.13, true), 0.13);
    EXPECT_EQ(CarrierCentring::moveFor(-0.5, false), 0.0);   // no carrier is there

    CarrierCentring c;
    WorkBuffer raw, filtered, symbols;
    EXPECT_TRUE(c.idle());
    c.requested(0.2, true);
    EXPECT_FALSE(c.idle());
    c.applied(&raw);
    c.passed(&raw, &filtered);
    c.passed(&symbols, &raw);   // another block's step: not the one carrying the move
    double cycles = 0;
    bool restart = false;
    EXPECT_FALSE(c.arrives(&raw, cycles, restart));
    c.passed(&filtered, &symbols);
    ASSERT_TRUE(c.arrives(&symbols, cycles, restart));
    EXPECT_EQ(cycles, 0.2);
    EXPECT_TRUE(restart);
    EXPECT_FALSE(c.idle()) << "until the block has been demodulated";
    c.demodulated(&symbols);
    EXPECT_TRUE(c.idle());

    // A move replaced by a new frequency, or lost with a dropped block, frees the way.
    c.requested(0.1);
    c.replaced();
    EXPECT_TRUE(c.idle());
    c.requested(0.1);
    c.applied(&raw);
    c.passed(&raw, nullptr);
    EXPECT_TRUE(c.idle());
}
