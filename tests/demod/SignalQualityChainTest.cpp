// MER and Es/N0 through the whole receiver: the project's transmitter with a
// carrier offset and its channel noise at a known Es/N0 (white over the
// sampled band), samples in through the chain's callback, the demodulator's
// reading once its window holds only symbols at that Es/N0.
#include "demod/KnownSymbolQuality.h"
#include "demod/QpskDecisionQuality.h"
#include "receiver/ProcessingChain.h"
#include "receiver/ReceiverSettings.h"
#include "tx/SignalGenerator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

namespace {

struct QualityCase {
    tx::Standard standard;
    int modcod;          // DVB-S2
    bool shortFrame;
    bool pilots;
    double esn0;         // dB
    // The framing does not acquire lock this low (its correlator misses too
    // many SOFs; 8PSK's data loop slips): lock at 10 dB first, as a signal
    // that fades.
    bool faded;
};

std::string caseName(const QualityCase& c)
{
    std::string name;
    if (c.standard == tx::Standard::Dvbs) {
        name = "Dvbs";
    } else {
        name = c.modcod >= 12 ? "Psk8" : "Qpsk";
        name += c.shortFrame ? "Short" : "Normal";
        name += c.pilots ? "Pilots" : "NoPilots";
    }
    name += "_" + std::to_string(int(c.esn0)) + "dB";
    return c.faded ? name + "_faded" : name;
}

void PrintTo(const QualityCase& c, std::ostream* os)
{
    *os << caseName(c);
}

bool isDvbs(const QualityCase& c)
{
    return c.standard == tx::Standard::Dvbs;
}

// Known symbols of a frame while locked: the PLS code and the pilot blocks
// (one after every 16 slots but the last).
int knownPerFrame(const QualityCase& c)
{
    const bool psk8 = c.modcod >= 12;
    const int slots = c.shortFrame ? (psk8 ? 60 : 90) : (psk8 ? 240 : 360);
    return 64 + (c.pilots ? 36 * ((slots - 1) / 16) : 0);
}

constexpr double kLockDb = 10.0;
constexpr int64_t kSampleRate = 2000000;
constexpr int64_t kSymbolRate = 1000000;

// A receiver as tavirel-cli sets it up, fed by the transmitter through a
// channel whose noise level can change.
class QualityRig {
public:
    explicit QualityRig(const QualityCase& c)
        : qualityCase(c), generator(transmitter(c))
    {
        EXPECT_EQ(generator.error(), "");
        testing::internal::CaptureStdout();
        chain.createLdpcWorkers(1);
        for (const auto& w : chain.ldpcWorkers())
            w->setDecodingEnabled(false);   // the frames do not matter here
        ReceiverSettings settings;
        settings.sampleRate = uint64_t(kSampleRate);
        settings.symbolRate = int32_t(kSymbolRate);
        settings.standard = isDvbs(c) ? Standard::DvbS : Standard::DvbS2;
        applyReceiverSettings(chain, settings);
        chain.start();
        // Signal and noise at an RMS of 30 % of full scale at the level
        // measured, as a radio's gain control would set them.
        const double noiseToSignal = double(kSampleRate) / double(kSymbolRate) / std::pow(10.0, c.esn0 / 10);
        scale = float(0.3 * 32768.0 / std::sqrt(1.0 + noiseToSignal));
    }
    ~QualityRig()
    {
        chain.stop();
        testing::internal::GetCapturedStdout();
    }

    void setNoise(double esn0, uint64_t seed)
    {
        tx::ChannelParams p;
        p.sampleRate = double(kSampleRate);
        p.samplesPerSymbol = double(kSampleRate) / double(kSymbolRate);
        p.noise = true;
        p.esn0Db = esn0;
        p.seed = seed;
        channel = std::make_unique<tx::Channel>(p);
    }
    // One PLFRAME or TS packet through the channel into the chain; returns
    // its symbols.
    int64_t sendUnit()
    {
        samples.clear();
        const size_t symbols = generator.nextUnit(samples);
        channel->process(samples.data(), samples.size());
        for (const tx::cf32& s : samples)
            chain.sampleCallback()(int16_t(std::lround(s.real() * scale)), int16_t(std::lround(s.imag() * scale)));
        while (!chain.readyForInput())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return int64_t(symbols);
    }
    void send(int64_t symbols)
    {
        for (int64_t sent = 0; sent < symbols;)
            sent += sendUnit();
    }
    void drain() { chain.waitIdle(std::chrono::seconds(120)); }

    // DVB-S2: frames until the framing is locked (at most `frames`);
    // DVB-S: the carrier loop's pull-in.
    bool acquire(int frames)
    {
        if (isDvbs(qualityCase)) {
            send(8 * int64_t(QpskDecisionQuality::kBlockSymbols));
            return true;
        }
        for (int f = 0; f < frames; ++f) {
            sendUnit();
            drain();
            if (chain.demodWorker().locked())
                return true;
        }
        return false;
    }
    // Starts the reading afresh, then sends a window's worth of symbols
    // (and a little more). Should the reading end before that, the last one
    // there was, with the frames behind it.
    SignalQualityReading measure(int& frames)
    {
        sendUnit();   // the filters' history at the former level
        drain();
        chain.demodWorker().clearSignalQuality();
        frames = 0;
        if (isDvbs(qualityCase)) {
            send(int64_t(QpskDecisionQuality::kBlocks + 1) * int64_t(QpskDecisionQuality::kBlockSymbols));
            drain();
            return chain.demodWorker().signalQuality();
        }
        const int known = int(KnownSymbolQuality::kBlocks * KnownSymbolQuality::kBlockSymbols);
        SignalQualityReading last;
        for (int f = 0; f < known / knownPerFrame(qualityCase) + 2; ++f) {
            sendUnit();
            drain();
            const SignalQualityReading r = chain.demodWorker().signalQuality();
            if (!r.valid && last.valid)
                break;
            if (r.valid) {
                last = r;
                frames = f + 1;
            }
        }
        return last;
    }
    bool locked() { return chain.demodWorker().locked(); }
    // Starts the reading afresh and sends frames until it has a MER (at
    // most `most`): how many it took, 0 if none did; `r` the last reading.
    int framesUntilMer(int most, SignalQualityReading& r)
    {
        sendUnit();
        drain();
        chain.demodWorker().clearSignalQuality();
        for (int f = 1; f <= most; ++f) {
            sendUnit();
            drain();
            r = chain.demodWorker().signalQuality();
            if (r.merValid)
                return f;
        }
        return 0;
    }

private:
    static tx::TxSettings transmitter(const QualityCase& c)
    {
        tx::TxSettings tx;
        tx.standard = c.standard;
        tx.modcods = {c.modcod};
        tx.frame = c.shortFrame ? tx::FrameSize::Short : tx::FrameSize::Normal;
        tx.pilots = c.pilots;
        tx.symbolRate = kSymbolRate;
        tx.sampleRate = kSampleRate;
        tx.phaseDegrees = 30;
        tx.frequencyOffset = 200;   // 2·10⁻⁴ of the symbol rate
        return tx;
    }

    const QualityCase qualityCase;
    tx::SignalGenerator generator;
    std::unique_ptr<tx::Channel> channel;
    std::vector<tx::cf32> samples;
    float scale = 1;
    ProcessingChain chain;
};

// Es/N0 within ±0.3 dB of the truth for DVB-S2, ±0.5 dB for DVB-S. MER
// counts the carrier loop's phase error too, so it is never clearly above
// Es/N0; it agrees with the truth where the loop holds the constellation
// (QPSK; 8PSK from 8 dB, below which its decision-directed loop slips).
// Where the framing locks from a cold start it holds the frames: the
// reading is of the known symbols, MER included. Lower down the lock may
// be lost in the noise; Es/N0 then reads on, blind.
void expectAccurate(const QualityCase& c)
{
    SignalQualityReading r;
    bool acquired = false;
    int frames = 0;
    {
        QualityRig rig(c);
        rig.setNoise(c.faded ? kLockDb : c.esn0, 1);
        acquired = rig.acquire(80);
        if (acquired) {
            rig.setNoise(c.esn0, 2);
            r = rig.measure(frames);
        }
    }
    ASSERT_TRUE(acquired) << "no lock";
    ASSERT_TRUE(r.valid) << "lock lost before a reading";
    char mer[16] = "     -";
    if (r.merValid)
        std::snprintf(mer, sizeof mer, "%6.2f", r.merDb);
    std::printf("%-32s true %5.1f dB  Es/N0 %6.2f dB (error %+5.2f)  MER %s dB  (%d frames)\n", caseName(c).c_str(),
                c.esn0, r.esn0Db, r.esn0Db - c.esn0, mer, frames);
    const double tolerance = isDvbs(c) ? 0.5 : 0.3;
    EXPECT_NEAR(r.esn0Db, c.esn0, tolerance);
    if (!c.faded) {
        EXPECT_TRUE(r.merValid) << "Es/N0 alone while the frames are locked";
    }
    if (r.merValid) {
        EXPECT_LE(r.merDb, r.esn0Db + 0.1);
        if (c.modcod < 12 || c.esn0 >= 8) {
            EXPECT_NEAR(r.merDb, c.esn0, tolerance);
        }
    }
}

std::vector<QualityCase> dvbs2Cases(const std::vector<double>& levels, bool fadedToo)
{
    std::vector<QualityCase> cases;
    for (int modcod : {4, 13})   // QPSK 1/2, 8PSK 2/3
        for (bool shortFrame : {false, true})
            for (bool pilots : {true, false})
                for (double esn0 : levels) {
                    // From a cold start the framing locks from 3 dB (QPSK)
                    // and 6 dB (8PSK) on.
                    const bool faded = esn0 < (modcod >= 12 ? 6 : 3);
                    if (!faded || fadedToo) {
                        cases.push_back({tx::Standard::Dvbs2, modcod, shortFrame, pilots, esn0, faded});
                    }
                }
    return cases;
}

std::vector<QualityCase> dvbsCases(const std::vector<double>& levels)
{
    std::vector<QualityCase> cases;
    for (double esn0 : levels)
        cases.push_back({tx::Standard::Dvbs, 0, false, false, esn0, false});
    return cases;
}

std::string paramName(const testing::TestParamInfo<QualityCase>& info)
{
    return caseName(info.param);
}

class SignalQualityChain : public testing::TestWithParam<QualityCase> {};
class SignalQualityLong : public testing::TestWithParam<QualityCase> {};

} // namespace

TEST_P(SignalQualityChain, EstimateIsWithinToleranceOfTheTrueEsN0)
{
    expectAccurate(GetParam());
}

TEST_P(SignalQualityLong, EstimateIsWithinToleranceOfTheTrueEsN0)
{
    expectAccurate(GetParam());
}

// Without pilots a frame holds 64 known symbols, and a reading of those
// alone takes some sixty frames. QPSK frames are QPSK points throughout, so
// the decisions on all their symbols give the MER within a few frames, as
// accurate as the known symbols'; 8PSK frames' decisions do not, and they
// keep to Es/N0 meanwhile.
TEST(SignalQualityWithoutPilots, QpskFramesReadTheirMerWithinAFewFrames)
{
    for (double esn0 : {3.0, 10.0}) {
        SCOPED_TRACE(esn0);
        const QualityCase c{tx::Standard::Dvbs2, 4, false, false, esn0, false};
        QualityRig rig(c);
        rig.setNoise(esn0, 1);
        ASSERT_TRUE(rig.acquire(80));
        SignalQualityReading r;
        const int frames = rig.framesUntilMer(6, r);
        ASSERT_GT(frames, 0) << "no MER within six frames";
        EXPECT_LE(frames, 4);
        EXPECT_NEAR(r.merDb, esn0, 0.3);
        EXPECT_NEAR(r.esn0Db, esn0, 0.3);
    }
    const QualityCase psk8{tx::Standard::Dvbs2, 13, false, false, 9.0, false};
    QualityRig rig(psk8);
    rig.setNoise(9.0, 1);
    ASSERT_TRUE(rig.acquire(80));
    SignalQualityReading r;
    EXPECT_EQ(rig.framesUntilMer(6, r), 0);
    EXPECT_TRUE(r.valid) << "Es/N0 alone";
    EXPECT_NEAR(r.esn0Db, 9.0, 0.3);
}

// A few points of each standard by default: the lowest and highest levels,
// both constellations, frames with and without pilots.
INSTANTIATE_TEST_SUITE_P(
    Dvbs2, SignalQualityChain,
    testing::Values(QualityCase{tx::Standard::Dvbs2, 4, false, true, 1, true},
                    QualityCase{tx::Standard::Dvbs2, 4, true, false, 6, false},
                    QualityCase{tx::Standard::Dvbs2, 4, false, true, 15, false},
                    QualityCase{tx::Standard::Dvbs2, 13, true, true, 3, true},
                    QualityCase{tx::Standard::Dvbs2, 13, true, false, 2, true},
                    QualityCase{tx::Standard::Dvbs2, 13, false, false, 9, false},
                    QualityCase{tx::Standard::Dvbs2, 13, true, true, 15, false}),
    paramName);
INSTANTIATE_TEST_SUITE_P(Dvbs, SignalQualityChain, testing::ValuesIn(dvbsCases({3, 12})), paramName);

// The whole range, 1 … 15 dB for DVB-S2 (every frame kind), 3 … 12 dB for
// DVB-S.
INSTANTIATE_TEST_SUITE_P(Dvbs2, SignalQualityLong,
                         testing::ValuesIn(dvbs2Cases({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, true)), paramName);
INSTANTIATE_TEST_SUITE_P(Dvbs, SignalQualityLong, testing::ValuesIn(dvbsCases({3, 4, 5, 6, 7, 8, 9, 10, 11, 12})),
                         paramName);
