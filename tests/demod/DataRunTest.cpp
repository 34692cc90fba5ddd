// The framing takes the data symbols of locked frames in runs; the same
// streams taken one symbol at a time must give the same symbols, frames,
// events and loop state, whatever the block sizes, the constellation, the
// detector, the equalizer, the display source or a move of the mixer.
#include "demod/Equalizer.h"
#include "demod/FrameSynchroniser.h"
#include "demod/SymbolTap.h"
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

namespace {

constexpr float kScale = 8.630371e-05f;   // the demodulator's input scale

struct Case {
    const char* name;
    int modcod;
    bool shortFrame;
    bool pilots;
    double esn0;
    double carrier;          // cycles per symbol
    int dummyEvery = 0;      // a dummy frame after every n (0: none)
    bool equalizer = false;
    DisplaySource shown = DisplaySource::All;
    bool tap = true;
    bool inverted = false;   // the spectrum arrives mirrored
    int shiftAtFrame = -1;   // the mixer moves (0.01 cycles per symbol) here
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<int16_t> stream(const Case& c, int frames)
{
    testsupport::PatternTs ts;
    tx::TsBbFramer framer(ts, tx::RollOff::R035);
    tx::Dvbs2Config config;
    config.modcods = {c.modcod};
    config.frame = c.shortFrame ? tx::FrameSize::Short : tx::FrameSize::Normal;
    config.pilots = c.pilots;
    tx::Dvbs2Transmitter transmitter(config, framer);
    tx::PlFramer plFramer;
    std::mt19937 rng(9);
    std::normal_distribution<double> noise(0, std::sqrt(std::pow(10, -c.esn0 / 10) / 2));
    std::vector<int16_t> in;
    size_t k = 0;
    for (int f = 0; f < frames; ++f) {
        std::vector<tx::cf32> symbols;
        if (c.dummyEvery > 0 && f % (c.dummyEvery + 1) == c.dummyEvery)
            plFramer.dummyFrame(symbols);
        else
            transmitter.nextFrame(symbols);
        for (const tx::cf32& s : symbols) {
            std::complex<double> x = std::complex<double>(s) * std::polar(1.0, 0.4 + 2 * M_PI * c.carrier * double(k++));
            x += std::complex<double>(noise(rng), noise(rng));
            if (c.inverted)
                x = std::conj(x);
            // The matched filter negates; the resampler hands over (Im, Re).
            in.push_back(int16_t(std::lround(std::clamp(-x.imag() / kScale, -32768.0, 32767.0))));
            in.push_back(int16_t(std::lround(std::clamp(-x.real() / kScale, -32768.0, 32767.0))));
        }
    }
    return in;
}

struct Outcome {
    std::vector<cf> symbols;
    std::vector<cf> shown;
    std::vector<int8_t> frames;
    std::vector<int> frameCodes;
    std::vector<int64_t> frameStarts;
    std::vector<int> events;
    int32_t phase = 0;
    float integrator = 0;
    float frequency = 0;
    bool locked = false;
};

Outcome receive(const Case& c, const std::vector<int16_t>& in, bool runs, size_t frameSymbols)
{
    FrameSynchroniser sync;
    sync.setDataRuns(runs);
    sync.carrierLoop().setGains(0.5f, 2.0f / 2048);
    sync.carrierLoop().setEnabled(true);
    Equalizer equalizer;
    if (c.equalizer) {
        equalizer.setLength(16);
        equalizer.setMode(Equalizer::ConstantModulus);
        equalizer.reset();
    }
    SymbolTap tap;
    tap.source = c.shown;
    Outcome o;
    std::mt19937 sizes(4);
    std::vector<cf> out;
    std::vector<int8_t> frames(4 * size_t(FrameSynchroniser::kFrameBytes));
    const size_t total = in.size() / 2;
    bool shifted = false;
    for (size_t start = 0; start < total;) {
        // Blocks from one symbol to a few thousand, so that runs end at the
        // block's edge anywhere in a field.
        const size_t n = std::min<size_t>(total - start, 1 + sizes() % (sizes() % 4 == 0 ? 40 : 6000));
        if (c.shiftAtFrame >= 0 && !shifted && start >= size_t(c.shiftAtFrame) * frameSymbols) {
            sync.shiftCarrier(0.01, 300);
            shifted = true;
        }
        out.assign(n, cf());
        tap.symbols.clear();
        const size_t delivered = sync.process(in.data() + 2 * start, n, kScale, false, equalizer, out.data(),
                                              frames.data(), c.tap ? &tap : nullptr, 4);
        o.symbols.insert(o.symbols.end(), out.begin(), out.end());
        o.shown.insert(o.shown.end(), tap.symbols.begin(), tap.symbols.end());
        for (size_t f = 0; f < delivered; ++f) {
            o.frames.insert(o.frames.end(), frames.begin() + long(f) * FrameSynchroniser::kFrameBytes,
                            frames.begin() + long(f + 1) * FrameSynchroniser::kFrameBytes);
            o.frameCodes.push_back(sync.blockFrames()[f].plsCode + 256 * sync.blockFrames()[f].afterGap);
            o.frameStarts.push_back(sync.blockFrames()[f].startInBlock + int64_t(start));
        }
        for (const FrameEvent& e : sync.events())
            o.events.push_back(int(e.kind));
        sync.events().clear();
        start += n;
    }
    o.phase = sync.carrierLoop().phase;
    o.integrator = sync.carrierLoop().integrator;
    o.frequency = sync.carrierLoop().frequency;
    o.locked = sync.locked();
    return o;
}

class DataRuns : public testing::TestWithParam<Case> {};

} // namespace

TEST_P(DataRuns, GiveWhatTheSymbolBySymbolPathGives)
{
    const Case& c = GetParam();
    const size_t frameSymbols = c.shortFrame ? 8370 : 33282;
    const int frames = c.shortFrame ? 60 : 30;
    const std::vector<int16_t> in = stream(c, frames);
    const Outcome runs = receive(c, in, true, frameSymbols);
    const Outcome single = receive(c, in, false, frameSymbols);

    ASSERT_TRUE(single.locked) << "the case never reaches the runs";
    EXPECT_GE(runs.frameCodes.size(), size_t(frames) / 2);
    ASSERT_EQ(runs.symbols.size(), single.symbols.size());
    size_t differing = 0, first = 0;
    for (size_t k = 0; k < runs.symbols.size(); ++k)
        if (runs.symbols[k] != single.symbols[k] && differing++ == 0)
            first = k;
    EXPECT_EQ(differing, 0u) << "first at symbol " << first;
    EXPECT_EQ(runs.shown, single.shown);
    EXPECT_EQ(runs.frameCodes, single.frameCodes);
    EXPECT_EQ(runs.frameStarts, single.frameStarts);
    EXPECT_TRUE(runs.frames == single.frames);
    EXPECT_EQ(runs.events, single.events);
    EXPECT_EQ(runs.phase, single.phase);
    EXPECT_EQ(runs.integrator, single.integrator);
    EXPECT_EQ(runs.frequency, single.frequency);
}

INSTANTIATE_TEST_SUITE_P(
    Framing, DataRuns,
    testing::Values(Case{"Qpsk12PilotsAll", 4, false, true, 10.0, 2e-4},
                    Case{"Qpsk14SoftDetectorData", 1, true, false, 1.0, 1e-4, 0, false, DisplaySource::Data},
                    Case{"Psk8WithDummies", 13, true, true, 8.0, -3e-4, 3, false, DisplaySource::Pilots},
                    Case{"Psk8HardNoTap", 12, true, false, 14.0, 1e-4, 0, false, DisplaySource::All, false},
                    Case{"QpskEqualizer", 6, true, true, 9.0, 1e-4, 0, true},
                    Case{"Qpsk34Normal", 7, false, false, 10.0, 1e-3, 0, false, DisplaySource::All, false},
                    Case{"Qpsk34NormalTap", 7, false, false, 10.0, -2e-3, 0, false, DisplaySource::Data, true},
                    Case{"QpskInvertedAndMoved", 4, true, false, 7.0, 3e-4, 0, false, DisplaySource::All, true, true,
                         30}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });
