// Carriers found in a composed band: each where the transmitter put it, its
// symbol rate from the band's width and then from the line in its squared
// envelope, its Es/N0 from its top over the floor; nothing in noise alone.
#include "dsp/CarrierFinder.h"
#include "dsp/AveragedPower.h"
#include "dsp/SymbolRateMeter.h"
#include "tx/BandComposer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Placed {
    double offsetHz;
    int64_t symbolRate;
    double esn0Db;
    tx::Standard standard = tx::Standard::Dvbs2;
    int modcod = 4;
};

constexpr int64_t kBandRate = 2000000;

std::vector<tx::cf32> composeBand(const std::vector<Placed>& placed, double seconds, uint64_t seed = 7)
{
    std::vector<tx::BandCarrier> carriers;
    for (const Placed& p : placed) {
        tx::BandCarrier c;
        c.settings.standard = p.standard;
        c.settings.modcods = {p.modcod};
        c.settings.dvbsRate = tx::DvbsRate::R34;
        c.settings.symbolRate = p.symbolRate;
        c.settings.frequencyOffset = p.offsetHz;
        c.esn0Db = p.esn0Db;
        carriers.push_back(c);
    }
    tx::BandComposer band(carriers, kBandRate, seed);
    EXPECT_EQ(band.error(), "");
    std::vector<tx::cf32> samples;
    band.generate(samples, size_t(seconds * kBandRate));
    return samples;
}

std::vector<FoundCarrier> survey(const std::vector<tx::cf32>& samples, int size = 2048)
{
    AveragedPower spectrum(size);
    spectrum.add(samples.data(), samples.size());
    return findCarriers(spectrum.mean());
}

} // namespace

TEST(CarrierFinder, FindsEachCarrierOfABandAndMeasuresItsRate)
{
    const std::vector<Placed> placed = {
        {-600000, 100000, 6},
        {100000, 400000, 12, tx::Standard::Dvbs2, 12},   // 8PSK 3/5
        {650000, 250000, 8, tx::Standard::Dvbs},
    };
    const std::vector<tx::cf32> samples = composeBand(placed, 0.5);
    const std::vector<FoundCarrier> found = survey(samples);
    ASSERT_EQ(found.size(), placed.size());
    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed& p = placed[i];
        const FoundCarrier& c = found[i];
        const double rate = double(p.symbolRate);
        EXPECT_NEAR(c.centre * kBandRate, p.offsetHz, 0.01 * rate) << i;
        EXPECT_NEAR(c.symbolRate * kBandRate, rate, 0.03 * rate) << i;
        EXPECT_NEAR(c.esn0Db, p.esn0Db, 1.0) << i;

        SymbolRateMeter meter(c.centre, c.symbolRate);
        meter.add(samples.data(), samples.size());
        EXPECT_GE(meter.transforms(), 4) << i;
        EXPECT_GT(meter.lineOverFloor(), SymbolRateMeter::kMinimumLine) << i;
        EXPECT_NEAR(meter.measure() * kBandRate, rate, 0.001 * rate) << i;
    }
}

TEST(CarrierFinder, NoiseAloneHoldsNoCarrierAndNoLine)
{
    const std::vector<tx::cf32> samples = composeBand({}, 0.25);
    EXPECT_TRUE(survey(samples).empty());
    EXPECT_TRUE(survey(samples, 8192).empty());
    // Where a carrier would be, the squares of noise show no line.
    SymbolRateMeter meter(0.1, 0.05);
    meter.add(samples.data(), samples.size());
    EXPECT_GE(meter.transforms(), 2);
    EXPECT_EQ(meter.measure(), 0.0);
}

// Two carriers whose roll-offs touch, and one whose band reaches the edge
// of the sampled band: each found apart, at its own rate.
TEST(CarrierFinder, TouchingCarriersAndOneAtTheBandEdgeAreFoundApart)
{
    // 1.35 × 200 ksym/s apart: the slopes meet at the floor.
    const std::vector<Placed> placed = {
        {-400000, 200000, 10},
        {-400000 + 270000, 200000, 7},
        {1000000 - 0.675 * 300000, 300000, 9},
    };
    const std::vector<FoundCarrier> found = survey(composeBand(placed, 0.25));
    ASSERT_EQ(found.size(), placed.size());
    for (size_t i = 0; i < placed.size(); ++i) {
        const double rate = double(placed[i].symbolRate);
        EXPECT_NEAR(found[i].centre * kBandRate, placed[i].offsetHz, 0.02 * rate) << i;
        EXPECT_NEAR(found[i].symbolRate * kBandRate, rate, 0.05 * rate) << i;
    }
}

namespace {

// A mean spectrum drawn by hand: a floor of 1 and carriers of raised-cosine
// shape (roll-off 0.35), each `top` floors above it.
void addCarrier(std::vector<float>& bins, double centreBin, double rateBins, double top)
{
    const double a = 0.35;
    for (size_t k = 0; k < bins.size(); ++k) {
        const double f = std::abs(double(k) - centreBin) / rateBins;
        double shape = 0;
        if (f <= (1 - a) / 2)
            shape = 1;
        else if (f < (1 + a) / 2)
            shape = 0.5 * (1 + std::cos(M_PI / a * (f - (1 - a) / 2)));
        bins[k] += float(top * shape);
    }
}

} // namespace

// A strong carrier's shoulders (its transmitter's filter sidelobes) standing
// above the floor at its feet are part of it, while a weak carrier touching
// a strong one is a carrier of its own.
TEST(CarrierFinder, ShouldersAreNotCarriersButAWeakNeighbourIs)
{
    std::vector<float> bins(4096, 1.0f);
    addCarrier(bins, 1000, 400, std::pow(10, 2.0));   // 20 dB
    for (double foot : {1000 - 0.675 * 400 - 4, 1000 + 0.675 * 400 + 4})
        for (int k = -3; k <= 3; ++k)
            bins[size_t(foot + k)] += 0.8f * float(std::cos(k * M_PI / 8));
    addCarrier(bins, 2600, 300, std::pow(10, 1.4));   // 14 dB
    addCarrier(bins, 2600 + 1.35 * 300 / 2 + 1.35 * 100 / 2, 100, std::pow(10, 0.4));   // 4 dB, touching
    const std::vector<FoundCarrier> found = findCarriers(bins);
    ASSERT_EQ(found.size(), 3u);
    const double n = 4096;
    EXPECT_NEAR(found[0].centre * n + n / 2, 1000, 2);
    EXPECT_NEAR(found[0].symbolRate * n, 400, 4);
    EXPECT_NEAR(found[1].centre * n + n / 2, 2600, 2);
    EXPECT_NEAR(found[2].symbolRate * n, 100, 5);
    EXPECT_NEAR(found[2].esn0Db, 4, 0.5);
}

// One carrier filling the band (three quarters of the sample rate at
// roll-off 0.2): the floor shows only at the band's edges, where the filled
// band's floor finds it, and the line at its rate shows folded, at the
// sample rate less the symbol rate. Noise alone has no filled band.
TEST(CarrierFinder, ACarrierFillingTheBand)
{
    tx::BandCarrier c;
    c.settings.modcods = {4};
    c.settings.symbolRate = 1500000;
    c.settings.rollOff = tx::RollOff::R020;
    c.esn0Db = 8;
    tx::BandComposer band({c}, kBandRate, 3);
    ASSERT_EQ(band.error(), "");
    std::vector<tx::cf32> samples;
    band.generate(samples, size_t(0.25 * kBandRate));
    AveragedPower spectrum(2048);
    spectrum.add(samples.data(), samples.size());
    const std::vector<float> mean = spectrum.mean();
    EXPECT_TRUE(findCarriers(mean).empty());   // the median is the carrier's top
    // As a survey looks: nothing narrower than 25 ksym/s (the lumps between
    // the carrier's slopes and the band's edges are a few bins wide).
    CarrierSearch filled;
    filled.minimumBins = 18;
    filled.floor = filledBandFloor(mean);
    ASSERT_GT(filled.floor, 0.0);
    const std::vector<FoundCarrier> found = findCarriers(mean, filled);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NEAR(found[0].symbolRate * kBandRate, 1500000, 0.03 * 1500000);
    SymbolRateMeter meter(found[0].centre, found[0].symbolRate);
    meter.add(samples.data(), samples.size());
    EXPECT_NEAR(meter.measure() * kBandRate, 1500000, 0.001 * 1500000);

    AveragedPower noise(2048);
    const std::vector<tx::cf32> floorOnly = composeBand({}, 0.25);
    noise.add(floorOnly.data(), floorOnly.size());
    EXPECT_EQ(filledBandFloor(noise.mean()), 0.0);
}
