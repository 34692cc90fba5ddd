// MER and Es/N0 estimators on synthetic symbols with Gaussian noise of known
// power, and their place in the demodulator: what DVB-S2 measures while
// locked, what a mode change forgets.
#include "demod/DemodWorker.h"
#include "demod/Demodulator.h"
#include "demod/KnownSymbolQuality.h"
#include "demod/QpskDecisionQuality.h"
#include "tx/Dvbs2Transmitter.h"
#include "tx/PlFramer.h"
#include "tx/TsBbFramer.h"
#include "tests/PatternTs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

using cf = std::complex<float>;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

double db(double ratio)
{
    return 10 * std::log10(ratio);
}

// Complex Gaussian noise of power σ² = A²/γ around symbols of amplitude A.
class NoisySymbols {
public:
    NoisySymbols(double esn0Db, float amplitude, uint32_t seed)
        : amplitude(amplitude), sigma(float(amplitude / std::sqrt(2 * std::pow(10, esn0Db / 10)))), rng(seed)
    {
    }
    cf noisy(cf sent) { return amplitude * sent + cf(sigma * gauss(rng), sigma * gauss(rng)); }
    int bit() { return int(rng() & 1u); }
    cf qpsk()
    {
        const float h = float(M_SQRT1_2);
        return {bit() ? -h : h, bit() ? -h : h};
    }

    const float amplitude;
    const float sigma;
    std::mt19937 rng;
    std::normal_distribution<float> gauss{0.0f, 1.0f};
};

// Fills a data-aided window: PLS codes (64) and pilot blocks (36) in turn,
// or PLS codes only (whole blocks of them), π/2-BPSK references of random
// bits, each field turned by `fieldPhase()`.
template <typename Phase>
void fillKnown(KnownSymbolQuality& q, NoisySymbols& source, size_t blocks, Phase fieldPhase, bool pilots = true)
{
    const float h = float(M_SQRT1_2);
    size_t symbols = 0;
    for (int field = 0; symbols < blocks * KnownSymbolQuality::kBlockSymbols; ++field) {
        const int n = field % 2 == 0 || !pilots ? 64 : 36;
        const cf turn = std::polar(1.0f, fieldPhase());
        std::vector<cf> sent(static_cast<size_t>(n)), received(static_cast<size_t>(n));
        for (int k = 0; k < n; ++k) {
            const float sign = source.bit() ? -h : h;
            sent[size_t(k)] = k % 2 == 0 ? cf(sign, sign) : cf(sign, -sign);
            received[size_t(k)] = source.noisy(sent[size_t(k)]) * turn;
        }
        q.addField(received.data(), sent.data(), n);
        symbols += size_t(n);
    }
}

} // namespace

// Averaged over 40 windows, so that a bias of a few hundredths of a dB
// shows: with the carrier loop on the phase both readings are the true
// Es/N0 at any level; with every field at a phase of its own (a loop that
// wanders), Es/N0 still is and MER counts the wandering.
TEST(KnownSymbolQuality, UnbiasedAtAnyEsN0)
{
    for (double esn0 : {-2.0, 1.0, 5.0, 10.0, 20.0}) {
        double merSum = 0, esn0Sum = 0, wanderingEsn0 = 0, wanderingMer = 0;
        const int windows = 40;
        NoisySymbols source(esn0, 0.8f, uint32_t(100 + esn0));
        std::uniform_real_distribution<float> anyPhase(-float(M_PI), float(M_PI));
        for (int w = 0; w < windows; ++w) {
            KnownSymbolQuality onPhase, wandering;
            fillKnown(onPhase, source, KnownSymbolQuality::kBlocks, [] { return 0.0f; });
            fillKnown(wandering, source, KnownSymbolQuality::kBlocks, [&] { return anyPhase(source.rng); });
            const SignalQualityReading r = onPhase.reading(), rw = wandering.reading();
            ASSERT_TRUE(r.valid && rw.valid && r.merValid && rw.merValid) << esn0;
            merSum += r.merDb;
            esn0Sum += r.esn0Db;
            wanderingEsn0 += rw.esn0Db;
            wanderingMer += rw.merDb;
        }
        EXPECT_NEAR(esn0Sum / windows, esn0, 0.03) << esn0;
        EXPECT_NEAR(merSum / windows, esn0, 0.03) << esn0;
        EXPECT_NEAR(wanderingEsn0 / windows, esn0, 0.03) << esn0;
        EXPECT_LT(wanderingMer / windows, -10.0) << esn0;
    }
}

// A phase error φ held by the loop: the ideal point is A·cos φ, the error
// vector's power σ² + A²·sin²φ. Es/N0 does not see it.
TEST(KnownSymbolQuality, StaticPhaseErrorCountsInMerOnly)
{
    const double esn0 = 12, phase = 10 * M_PI / 180;
    NoisySymbols source(esn0, 1.0f, 7);
    KnownSymbolQuality q;
    fillKnown(q, source, KnownSymbolQuality::kBlocks, [&] { return float(phase); });
    const SignalQualityReading r = q.reading();
    ASSERT_TRUE(r.valid);
    const double noise = std::pow(10, -esn0 / 10);
    const double expectedMer = db(std::pow(std::cos(phase), 2) / (noise + std::pow(std::sin(phase), 2)));
    EXPECT_NEAR(r.merDb, expectedMer, 0.1);
    EXPECT_NEAR(r.esn0Db, esn0, 0.1);
    EXPECT_LT(r.merDb, esn0 - 1.5);
}

// Not valid before 4 blocks of known symbols; the window then holds the last
// 16, so a level change shows in full once 16 blocks at the new level are
// in; clearing forgets everything. Clean symbols read the ceiling.
TEST(KnownSymbolQuality, ValidFromFourBlocksAndFollowsTheLastSixteen)
{
    KnownSymbolQuality q;
    NoisySymbols low(5, 1.0f, 3);
    auto none = [] { return 0.0f; };
    fillKnown(q, low, KnownSymbolQuality::kMinBlocks - 1, none, false);
    EXPECT_FALSE(q.reading().valid);
    fillKnown(q, low, 1, none, false);
    ASSERT_TRUE(q.reading().valid);
    EXPECT_NEAR(q.reading().esn0Db, 5, 0.3);

    fillKnown(q, low, KnownSymbolQuality::kBlocks, none, false);
    NoisySymbols high(15, 1.0f, 4);
    fillKnown(q, high, KnownSymbolQuality::kBlocks / 2, none, false);
    const double halfway = q.reading().esn0Db;
    EXPECT_GT(halfway, 6.0);
    EXPECT_LT(halfway, 14.0);
    fillKnown(q, high, KnownSymbolQuality::kBlocks / 2, none, false);
    EXPECT_NEAR(q.reading().esn0Db, 15, 0.15);
    EXPECT_NEAR(q.reading().merDb, 15, 0.15);

    q.clear();
    EXPECT_FALSE(q.reading().valid);
    // A single symbol is no field (its phase and amplitude would explain it).
    for (size_t k = 0; k < KnownSymbolQuality::kBlocks * KnownSymbolQuality::kBlockSymbols; ++k)
        q.addField(cf(1, 0), 1.0f, 1);
    EXPECT_FALSE(q.reading().valid);

    NoisySymbols clean(300, 1.0f, 5);
    fillKnown(q, clean, KnownSymbolQuality::kMinBlocks, none, false);
    ASSERT_TRUE(q.reading().valid);
    EXPECT_EQ(q.reading().esn0Db, kQualityCeilingDb);
}

// The closed form of the decision-directed ratio against a simulation of
// it: mean |x| squared over mean x² of a Gaussian component around ±μ.
TEST(QpskDecisionQuality, DecisionCurveMatchesSimulatedDecisions)
{
    EXPECT_NEAR(QpskDecisionQuality::decisionRatio(0), 2 / M_PI, 1e-12);
    EXPECT_NEAR(QpskDecisionQuality::decisionRatio(1e6), 1.0, 1e-5);
    for (double esn0 : {0.0, 3.0, 6.0, 10.0}) {
        std::mt19937 rng(uint32_t(esn0 + 1));
        std::normal_distribution<double> gauss(0, 1);
        const double mu = std::sqrt(std::pow(10, esn0 / 10));   // s = 1
        double absolute = 0, square = 0;
        const int n = 2000000;
        for (int k = 0; k < n; ++k) {
            const double x = (k % 2 ? mu : -mu) + gauss(rng);
            absolute += std::fabs(x);
            square += x * x;
        }
        const double simulated = (absolute / n) * (absolute / n) / (square / n);
        EXPECT_NEAR(QpskDecisionQuality::decisionRatio(std::pow(10, esn0 / 10)), simulated, 1e-3) << esn0;
    }
}

// What the correction is for: the naive ratio ρ/(1 − ρ) of decisions on
// noisy QPSK reads 3.28 dB high at 0 dB, 1.43 at 3, 0.38 at 6, 0.013 at 10.
// The inverse of the curve gives the true Es/N0 back over the whole range.
TEST(QpskDecisionQuality, CorrectionUndoesTheDecisionBias)
{
    const std::vector<std::pair<double, double>> naiveExcess = {{0, 3.2838}, {3, 1.4331}, {6, 0.3847}, {10, 0.0129}};
    for (const auto& [esn0, excess] : naiveExcess) {
        const double rho = QpskDecisionQuality::decisionRatio(std::pow(10, esn0 / 10));
        EXPECT_NEAR(db(QpskDecisionQuality::naiveEsn0(rho)) - esn0, excess, 1e-3) << esn0;
    }
    for (double esn0 = -10; esn0 <= 50; esn0 += 2.5) {
        const double gamma = std::pow(10, esn0 / 10);
        const double back = QpskDecisionQuality::esn0FromDecisionRatio(QpskDecisionQuality::decisionRatio(gamma));
        EXPECT_NEAR(db(back), esn0, 1e-6) << esn0;
    }
    EXPECT_EQ(QpskDecisionQuality::esn0FromDecisionRatio(2 / M_PI), 0.0);
    EXPECT_EQ(QpskDecisionQuality::esn0FromDecisionRatio(0.5), 0.0);
}

namespace {

// 16 blocks of QPSK symbols at amplitude A, turned by `phase(k)`.
template <typename Phase>
SignalQualityReading qpskReading(double esn0, float amplitude, uint32_t seed, Phase phase,
                                 QpskMoments* moments = nullptr)
{
    NoisySymbols source(esn0, amplitude, seed);
    QpskDecisionQuality q;
    std::vector<cf> block(QpskDecisionQuality::kBlockSymbols);
    for (size_t b = 0; b < QpskDecisionQuality::kBlocks; ++b) {
        for (size_t k = 0; k < block.size(); ++k)
            block[k] = source.noisy(source.qpsk()) * std::polar(1.0f, phase(b * block.size() + k));
        q.add(block.data(), block.size());
        if (moments != nullptr)
            *moments += qpsk_moments_ref(block.data(), block.size());
    }
    return q.reading();
}

} // namespace

// Symbols at a known Es/N0 and an arbitrary level: MER (from decisions,
// corrected) and Es/N0 (moments) both read it from 0 to 20 dB, where the
// naive decision-directed figure of the same symbols reads high at the low
// end as the curve says.
TEST(QpskDecisionQuality, ReadsTheTrueEsN0OfNoisySymbols)
{
    for (double esn0 : {0.0, 3.0, 6.0, 10.0, 20.0}) {
        QpskMoments m;
        const SignalQualityReading r = qpskReading(esn0, 0.37f, uint32_t(esn0 + 20), [](size_t) { return 0.0f; }, &m);
        ASSERT_TRUE(r.valid && r.merValid) << esn0;
        EXPECT_NEAR(r.merDb, esn0, 0.1) << esn0;
        EXPECT_NEAR(r.esn0Db, esn0, 0.1) << esn0;
        const double rho = (m.absolute / (2 * m.symbols)) * (m.absolute / (2 * m.symbols)) / (m.power / (2 * m.symbols));
        const double expectedNaive =
            db(QpskDecisionQuality::naiveEsn0(QpskDecisionQuality::decisionRatio(std::pow(10, esn0 / 10))));
        EXPECT_NEAR(db(QpskDecisionQuality::naiveEsn0(rho)), expectedNaive, 0.1) << esn0;
    }
}

// Only a constellation the carrier loop holds is measured: one that turns
// (no loop, a residual carrier) or noise alone is not valid, and neither is
// anything before 4 blocks. A small static phase error lowers MER only.
TEST(QpskDecisionQuality, ValidOnlyForALockedConstellation)
{
    EXPECT_TRUE(qpskReading(3, 1.0f, 1, [](size_t) { return 0.0f; }).valid);
    EXPECT_FALSE(qpskReading(10, 1.0f, 2, [](size_t k) { return float(2e-3 * M_PI * double(k)); }).valid);
    EXPECT_FALSE(qpskReading(-60, 1.0f, 3, [](size_t) { return 0.0f; }).valid);
    EXPECT_FALSE(qpskReading(10, 1.0f, 4, [](size_t) { return float(M_PI / 8); }).valid);

    const SignalQualityReading turned = qpskReading(12, 1.0f, 5, [](size_t) { return float(M_PI / 18); });
    ASSERT_TRUE(turned.valid);
    EXPECT_NEAR(turned.esn0Db, 12, 0.1);
    EXPECT_LT(turned.merDb, 11.0);

    QpskDecisionQuality q;
    NoisySymbols source(10, 1.0f, 6);
    std::vector<cf> block(QpskDecisionQuality::kBlockSymbols * (QpskDecisionQuality::kMinBlocks - 1));
    for (cf& s : block)
        s = source.noisy(source.qpsk());
    q.add(block.data(), block.size());
    EXPECT_FALSE(q.reading().valid);
    q.add(block.data(), QpskDecisionQuality::kBlockSymbols);
    EXPECT_TRUE(q.reading().valid);
    q.clear();
    EXPECT_FALSE(q.reading().valid);
}

// The blind reading of DVB-S2 symbols while the frames are not held: any
// mix of constant-modulus constellations (π/2-BPSK, QPSK, 8PSK) at any
// phase, turning or not, reads its Es/N0 from −1 dB up; there is no MER.
// Noise alone stays below the floor, and nothing reads before 4 blocks.
TEST(ConstantModulusQuality, ReadsTheEsN0OfTurningMixedPskWithoutMer)
{
    auto reading = [](double esn0, uint32_t seed, size_t blocks) {
        NoisySymbols source(esn0, 0.6f, seed);
        ConstantModulusQuality q;
        std::vector<cf> block(QpskDecisionQuality::kBlockSymbols);
        size_t index = 0;
        for (size_t b = 0; b < blocks; ++b) {
            for (cf& s : block) {
                const int kind = int(source.rng() % 3);   // π/2-BPSK, QPSK, 8PSK
                const int points = kind == 0 ? 2 : kind == 1 ? 4 : 8;
                const float angle = float(2 * M_PI) * float(source.rng() % uint32_t(points)) / float(points) +
                                    (kind == 0 && index % 2 == 1 ? float(M_PI / 2) : 0.0f);
                s = source.noisy(std::polar(1.0f, angle)) * std::polar(1.0f, float(1e-3 * double(index)));
                ++index;
            }
            q.add(block.data(), block.size());
        }
        return q.reading();
    };
    for (double esn0 : {-1.0, 1.0, 3.0, 8.0, 15.0}) {
        const SignalQualityReading r = reading(esn0, uint32_t(40 + esn0), QpskDecisionQuality::kBlocks);
        ASSERT_TRUE(r.valid) << esn0;
        EXPECT_FALSE(r.merValid) << esn0;
        // Blind moments scatter more than known symbols: at 1 dB by about
        // 0.05 dB over a window.
        EXPECT_NEAR(r.esn0Db, esn0, 0.2) << esn0;
    }
    EXPECT_FALSE(reading(-60, 1, QpskDecisionQuality::kBlocks).valid);
    EXPECT_FALSE(reading(10, 2, QpskDecisionQuality::kMinBlocks - 1).valid);
    EXPECT_TRUE(reading(10, 3, QpskDecisionQuality::kMinBlocks).valid);
}

// The gain control settling at the start: symbols whose level changes from
// one run to the next read as noise in the moments. A level step starts the
// window afresh, so the reading is the signal's once it is steady again
// (measured before: 8 dB read as 2.6 dB for seconds, and the soft values of
// the frames were scaled by that).
TEST(ConstantModulusQuality, ALevelStepStartsTheWindowAfresh)
{
    NoisySymbols source(8.0, 1.0f, 21);
    ConstantModulusQuality q;
    std::vector<cf> run(8192);
    for (float level : {0.3f, 1.3f, 1.1f, 1.0f}) {
        for (cf& s : run)
            s = source.noisy(source.qpsk()) * level;
        q.add(run.data(), run.size());
    }
    EXPECT_FALSE(q.reading().valid) << "a window of the settled level alone is not full yet";
    for (int k = 0; k < 8; ++k) {
        for (cf& s : run)
            s = source.noisy(source.qpsk()) * (k % 2 == 0 ? 1.0f : 1.04f);   // within the step
        q.add(run.data(), run.size());
    }
    const SignalQualityReading r = q.reading();
    ASSERT_TRUE(r.valid);
    EXPECT_NEAR(r.esn0Db, 8.0, 0.3);
}

TEST(QpskDecisionQuality, VectorMomentsMatchTheReferenceWithinRounding)
{
    std::mt19937 rng(9);
    std::normal_distribution<float> gauss(0.0f, 0.8f);
    std::vector<cf> symbols(16384 + 1);
    for (cf& s : symbols)
        s = {gauss(rng), gauss(rng)};
    for (size_t n : {0, 1, 3, 4, 5, 7, 16, 1023, 16384})
        for (size_t offset : {0, 1}) {
            const QpskMoments a = qpsk_moments_ref(symbols.data() + offset, n);
            const QpskMoments b = qpsk_moments_sse41(symbols.data() + offset, n);
            const double tolerance = 1e-5 * double(n) + 1e-6;
            EXPECT_EQ(a.symbols, double(n));
            EXPECT_EQ(b.symbols, double(n));
            EXPECT_NEAR(a.absolute, b.absolute, tolerance) << n;
            EXPECT_NEAR(a.power, b.power, tolerance) << n;
            EXPECT_NEAR(a.fourth, b.fourth, 4 * tolerance) << n;
            EXPECT_NEAR(a.fourthPower, b.fourthPower, 4 * tolerance) << n;
        }
}

namespace {

// DVB-S2 symbols as the resampler hands them over, at Es/N0 `esn0` with a
// residual carrier: frames of the transmitter, or dummy frames.
class Dvbs2Feed {
public:
    Dvbs2Feed(int modcod, bool shortFrame, bool pilots, double esn0)
        : framer(ts, tx::RollOff::R035), transmitter(config(modcod, shortFrame, pilots), framer)
    {
        setEsn0(esn0);
        demod.equalizer().setMode(Equalizer::Off);
        demod.loop().setGains(0.5f, 2.0f / 2048);
        demod.loop().setEnabled(true);
    }
    void setEsn0(double esn0) { sigma = std::sqrt(std::pow(10, -esn0 / 10) / 2); }
    void frames(int count, bool dummy = false, bool signal = true)
    {
        for (int f = 0; f < count; ++f) {
            std::vector<tx::cf32> symbols;
            if (dummy)
                plFramer.dummyFrame(symbols);
            else
                transmitter.nextFrame(symbols);
            std::vector<int16_t> in(2 * symbols.size());
            for (size_t k = 0; k < symbols.size(); ++k, ++index) {
                const std::complex<double> x =
                    (signal ? std::complex<double>(symbols[k]) * std::polar(1.0, 0.3 + 2e-4 * M_PI * double(index))
                            : 0.0) +
                    std::complex<double>(sigma * gauss(rng), sigma * gauss(rng));
                // The matched filter negates; the resampler hands over (Im, Re).
                in[2 * k] = int16_t(std::lround(-x.imag() / Demodulator::kInputScale));
                in[2 * k + 1] = int16_t(std::lround(-x.real() / Demodulator::kInputScale));
            }
            std::vector<cf> out(symbols.size());
            demod.processS2(in.data(), symbols.size(), out.data(), frame.data(), nullptr);
            demod.events().clear();
        }
    }

    Demodulator demod;

private:
    static tx::Dvbs2Config config(int modcod, bool shortFrame, bool pilots)
    {
        tx::Dvbs2Config c;
        c.modcods = {modcod};
        c.frame = shortFrame ? tx::FrameSize::Short : tx::FrameSize::Normal;
        c.pilots = pilots;
        return c;
    }

    testsupport::PatternTs ts;
    tx::TsBbFramer framer;
    tx::Dvbs2Transmitter transmitter;
    tx::PlFramer plFramer;
    double sigma = 0;
    std::mt19937 rng{17};
    std::normal_distribution<double> gauss{0.0, 1.0};
    int64_t index = 0;
    std::vector<int8_t> frame = std::vector<int8_t>(Demodulator::kFrameBytes);
};

} // namespace

// Nothing is measured before the lock; once locked the PLS codes and pilots
// give MER and Es/N0; when the signal goes, the lock and the reading go
// with it.
TEST(FramingSignalQuality, MeasuredOnceLocked)
{
    Dvbs2Feed feed(4, true, true, 7.0);   // QPSK 1/2 short frames with pilots
    feed.frames(10);
    ASSERT_FALSE(feed.demod.locked());
    EXPECT_FALSE(feed.demod.signalQualityS2().valid);
    feed.frames(40);
    ASSERT_TRUE(feed.demod.locked());
    feed.demod.clearSignalQuality();
    feed.frames(70);
    const SignalQualityReading r = feed.demod.signalQualityS2();
    ASSERT_TRUE(r.valid && r.merValid);
    EXPECT_NEAR(r.esn0Db, 7.0, 0.3);
    EXPECT_NEAR(r.merDb, 7.0, 0.3);

    feed.frames(60, false, false);   // noise alone
    EXPECT_FALSE(feed.demod.locked());
    EXPECT_FALSE(feed.demod.signalQualityS2().valid);
}

// 8PSK without pilots fading to 1 dB: its headers still decode, so the lock
// holds and MER and Es/N0 read on from them. Further down, at −4 dB, the
// headers go too: the lock is lost in the noise, and Es/N0 reads on from the
// moments of the symbols (which cannot tell less than about 1 dB), without
// MER; clearing while unlocked ends that until the next lock.
TEST(FramingSignalQuality, EsN0ReadsOnWhenTheLockIsLostInTheNoise)
{
    Dvbs2Feed feed(13, true, false, 11.0);   // 8PSK 2/3 short frames, no pilots
    feed.frames(40);
    ASSERT_TRUE(feed.demod.locked());
    feed.setEsn0(1.0);
    feed.frames(150);
    ASSERT_TRUE(feed.demod.locked());
    const SignalQualityReading held = feed.demod.signalQualityS2();
    ASSERT_TRUE(held.valid && held.merValid);
    EXPECT_NEAR(held.esn0Db, 1.0, 0.6);   // from the PLS codes alone, read high near the bottom
    feed.setEsn0(-4.0);
    feed.frames(150);
    ASSERT_FALSE(feed.demod.locked());
    const SignalQualityReading r = feed.demod.signalQualityS2();
    ASSERT_TRUE(r.valid);
    EXPECT_FALSE(r.merValid);
    EXPECT_LT(r.esn0Db, 1.5);
    feed.demod.clearSignalQuality();
    feed.frames(20);
    EXPECT_FALSE(feed.demod.signalQualityS2().valid);
}

// Dummy frames carry known symbols in all their 36 slots: locked on data
// frames, a stream of dummies alone is measured.
TEST(FramingSignalQuality, DummyFramesAreMeasured)
{
    Dvbs2Feed feed(13, true, false, 11.0);   // 8PSK 2/3 short frames, no pilots
    feed.frames(40);
    ASSERT_TRUE(feed.demod.locked());
    feed.demod.clearSignalQuality();
    feed.frames(8, true);
    const SignalQualityReading r = feed.demod.signalQualityS2();
    ASSERT_TRUE(r.valid && r.merValid);
    EXPECT_NEAR(r.esn0Db, 11.0, 0.3);
    EXPECT_NEAR(r.merDb, 11.0, 0.3);
}

// The worker reads the measurement of the mode it runs; a mode change starts
// both afresh.
TEST(DemodWorkerSignalQuality, ModeChangeStartsTheMeasurementAfresh)
{
    CaptureStdout();   // the setters' log lines
    DemodWorker worker([](WorkBuffer*, WorkBuffer*) {});
    worker.setEqualizerMode(EqualizerMode::Off);
    worker.setDVBMode(false);
    NoisySymbols source(9, 0.7f, 11);
    WorkBuffer in(4 * 8192), out(DemodWorker::outputBytes(4 * 8192));
    auto feedBlocks = [&](int blocks) {
        for (int b = 0; b < blocks; ++b) {
            auto* pairs = reinterpret_cast<int16_t*>(in.data());
            for (size_t k = 0; k < 8192; ++k) {
                const cf x = source.noisy(source.qpsk());
                // Inverted: the second component is negated; (Im, Re) come in.
                pairs[2 * k] = int16_t(std::lround(x.imag() / Demodulator::kInputScale));
                pairs[2 * k + 1] = int16_t(std::lround(x.real() / Demodulator::kInputScale));
            }
            worker.process(&in, &out);
        }
    };
    feedBlocks(2 * int(QpskDecisionQuality::kBlocks));
    const SignalQualityReading dvbs = worker.signalQuality();
    ASSERT_TRUE(dvbs.valid && dvbs.merValid);
    EXPECT_NEAR(dvbs.esn0Db, 9.0, 0.2);
    EXPECT_NEAR(dvbs.merDb, 9.0, 0.2);

    worker.setDVBMode(true);
    EXPECT_FALSE(worker.signalQuality().valid);   // nothing in yet
    worker.setDVBMode(false);
    EXPECT_FALSE(worker.signalQuality().valid);   // forgotten
    feedBlocks(2 * int(QpskDecisionQuality::kMinBlocks));   // two worker blocks to one of the window
    EXPECT_TRUE(worker.signalQuality().valid);
    worker.clearSignalQuality();
    EXPECT_FALSE(worker.signalQuality().valid);
    GetCapturedStdout();
}
