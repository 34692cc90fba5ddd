// DVB-S2 framing on symbol streams from the project's transmitter: lock,
// header decoding, descrambling, pilots, dummy frames and soft decisions.
#include "demod/Constellation.h"
#include "demod/DemodWorker.h"
#include "demod/Demodulator.h"
#include "demod/PlSignalling.h"
#include "tx/Dvbs2Transmitter.h"
#include "tx/TsBbFramer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <functional>
#include <random>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using cf = std::complex<float>;

namespace {

// Endless TS packets with a running counter.
class CounterTs : public tx::TsPacketSource {
public:
    bool nextPacket(uint8_t* p) override
    {
        p[0] = 0x47;
        p[1] = 0x01;
        p[2] = 0x00;
        p[3] = uint8_t(0x10 | (count & 15));
        for (int i = 4; i < 188; ++i)
            p[i] = uint8_t(count * 31 + i);
        ++count;
        return true;
    }
    uint32_t count = 0;
};

struct Scenario {
    const char* name;
    int modcod;
    bool shortFrame;
    bool pilots;
    double esn0;        // dB
    int dummyEvery;     // a dummy frame after every n data frames (0: none)
    double maxBer;
    double carrier;     // residual carrier, cycles per symbol
    double phaseHit = 0;   // a sudden phase step (rad) before the SOF of frame 40
    int lockBy = 0;        // locked after at most this many frames (0: no bound)
    double startPhase = 0.3;   // carrier phase of the channel (rad)
    int firstHitBy = 0;        // first SOF where the last frame said, at most this frame (0: the usual bound)
    unsigned seed = 5;         // of the noise
};

void PrintTo(const Scenario& sc, std::ostream* os)
{
    *os << sc.name;
}

struct Received {
    std::vector<std::vector<uint8_t>> sentCodewords;   // hard bits per data frame sent
    std::vector<std::vector<int8_t>> frames;            // delivered XFECFRAMEs
    std::vector<uint8_t> framePls;
    std::vector<bool> frameLocked;                      // delivered while locked
    std::vector<bool> frameAfterGap;                    // delivered after lost data
    int lockedAfterFrame = -1;
    int firstHitFrame = -1;
    int locks = 0;        // the framing's "LOCKED :)" events
    int lockLosses = 0;
    uint8_t plsCode = 0;
};

std::vector<uint8_t> unpack(const std::vector<uint8_t>& packed, size_t bits)
{
    std::vector<uint8_t> out(bits);
    for (size_t i = 0; i < bits; ++i)
        out[i] = (packed[i / 8] >> (7 - i % 8)) & 1;
    return out;
}

// Sends `frames` PLFRAMEs through a channel with a phase offset (0.3 rad unless
// the scenario says), a residual carrier and noise, into a demodulator with its
// carrier loop on; symbols enter as the resampler hands them over.
Received run(const Scenario& sc, int frames)
{
    CounterTs ts;
    tx::TsBbFramer framer(ts, tx::RollOff::R035);
    tx::Dvbs2Config config;
    config.modcods = {sc.modcod};
    config.frame = sc.shortFrame ? tx::FrameSize::Short : tx::FrameSize::Normal;
    config.pilots = sc.pilots;
    tx::Dvbs2Transmitter transmitter(config, framer);
    tx::PlFramer plFramer;

    Demodulator demod;
    demod.equalizer().setMode(Equalizer::Off);
    // The window's initial loop gain, with the damping slider at its slow end
    // (2/2048): the initial damping lets the integrator wander at 8 dB.
    demod.loop().setGains(0.5f, 2.0f / 2048);
    demod.loop().setEnabled(true);

    std::mt19937 rng(sc.seed);
    const double sigma = std::sqrt(std::pow(10, -sc.esn0 / 10) / 2);
    std::normal_distribution<double> noise(0, 1);
    const double amplitude = 32768 / 2.828;   // unit symbols become unit z
    const size_t bits = sc.shortFrame ? 16200 : 64800;

    Received r;
    size_t symbolIndex = 0;
    std::vector<int8_t> frameOut(Demodulator::kFrameBytes);
    for (int f = 0; f < frames; ++f) {
        std::vector<tx::cf32> symbols;
        if (sc.dummyEvery > 0 && f % (sc.dummyEvery + 1) == sc.dummyEvery) {
            plFramer.dummyFrame(symbols);
        } else {
            transmitter.nextFrame(symbols);
            r.sentCodewords.push_back(unpack(transmitter.lastFecframe(), bits));
        }
        std::vector<int16_t> in(2 * symbols.size());
        for (size_t k = 0; k < symbols.size(); ++k, ++symbolIndex) {
            const double hit = f >= 40 ? sc.phaseHit : 0.0;
            const std::complex<double> rotation = std::polar(1.0, sc.startPhase + hit + 2 * M_PI * sc.carrier * double(symbolIndex));
            const std::complex<double> x = std::complex<double>(symbols[k]) * rotation +
                                           std::complex<double>(sigma * noise(rng), sigma * noise(rng));
            // The matched filter negates; the resampler hands over (Im, Re).
            in[2 * k] = int16_t(std::lround(std::clamp(-x.imag() * amplitude, -32768.0, 32767.0)));
            in[2 * k + 1] = int16_t(std::lround(std::clamp(-x.real() * amplitude, -32768.0, 32767.0)));
        }
        std::vector<cf> out(symbols.size());
        if (demod.processS2(in.data(), symbols.size(), out.data(), frameOut.data(), 0)) {
            r.frames.push_back(frameOut);
            r.framePls.push_back(demod.deliveredPlsCode());
            r.frameLocked.push_back(demod.locked());
            r.frameAfterGap.push_back(demod.deliveredAfterGap());
        }
        for (const FrameEvent& e : demod.events()) {
            r.locks += e.kind == FrameEvent::Kind::Locked;
            r.lockLosses += e.kind == FrameEvent::Kind::LockLost;
        }
        demod.events().clear();
        if (r.firstHitFrame < 0 && demod.lockCounter() > 0)
            r.firstHitFrame = f;
        if (r.lockedAfterFrame < 0 && demod.locked())
            r.lockedAfterFrame = f;
    }
    r.plsCode = demod.plsCode();
    return r;
}

class Framing : public testing::TestWithParam<Scenario> {};

} // namespace

TEST_P(Framing, LocksAndDeliversTheTransmittedCodewords)
{
    const Scenario sc = GetParam();
    // Acquisition takes a few frames: until the counter has passed the
    // longest frame, then while false correlator peaks restart it.
    const int frames = sc.shortFrame ? 60 : 70;
    const Received r = run(sc, frames);

    // Locked once, at the 16th SOF that came where the last frame said.
    EXPECT_EQ(r.locks, 1);
    EXPECT_EQ(r.lockLosses, 0);
    ASSERT_GE(r.firstHitFrame, 0);
    if (sc.esn0 >= 20) {
        // Acquisition: the first SOF is taken once the counter has passed the
        // longest frame (a few short frames); a false correlator peak rejected
        // by the SOF check does not hold the search up for another frame.
        EXPECT_LE(r.firstHitFrame, sc.shortFrame ? 7 : 4);
        EXPECT_EQ(r.lockedAfterFrame, r.firstHitFrame + 15);
    } else {
        // In noise an SOF is sometimes missed on the way up, costing a point.
        EXPECT_GE(r.lockedAfterFrame, r.firstHitFrame + 15);
    }
    if (sc.firstHitBy > 0) {
        EXPECT_LE(r.firstHitFrame, sc.firstHitBy);
    }
    if (sc.lockBy > 0) {
        EXPECT_GE(r.lockedAfterFrame, 0);
        EXPECT_LE(r.lockedAfterFrame, sc.lockBy);
    }
    const uint8_t expectedPls = uint8_t(sc.modcod | (sc.shortFrame ? 0x20 : 0) | (sc.pilots ? 0x40 : 0));
    if (sc.dummyEvery == 0) {
        EXPECT_EQ(r.plsCode, expectedPls);
    }

    // Delivered frames are consecutive transmitted codewords: find the one
    // the first frame delivered in lock carries, then follow on from it.
    ASSERT_GE(std::count(r.frameLocked.begin(), r.frameLocked.end(), true), 8) << "frames delivered in lock";
    const size_t bits = sc.shortFrame ? 16200 : 64800;
    auto bitErrors = [&](size_t delivered, size_t sent) {
        size_t e = 0;
        for (size_t i = 0; i < bits; ++i)
            e += (r.frames[delivered][i] < 0) != (r.sentCodewords[sent][i] != 0);
        return e;
    };
    const size_t firstLocked = size_t(std::find(r.frameLocked.begin(), r.frameLocked.end(), true) - r.frameLocked.begin());
    ASSERT_LT(firstLocked, r.frames.size()) << "no frame delivered in lock";
    size_t match = r.sentCodewords.size();
    for (size_t c = 0; c < r.sentCodewords.size() && match == r.sentCodewords.size(); ++c)
        if (bitErrors(firstLocked, c) < bits / 4)
            match = c;
    ASSERT_LT(match, r.sentCodewords.size()) << "no delivered frame matches a sent one";
    size_t errors = 0, total = 0;
    for (size_t f = firstLocked; f < r.frames.size() && match + f - firstLocked < r.sentCodewords.size(); ++f) {
        EXPECT_EQ(r.framePls[f], expectedPls);
        EXPECT_TRUE(r.frameLocked[f]) << "lock held";
        if (sc.esn0 >= 16 && f > firstLocked) {
            EXPECT_FALSE(r.frameAfterGap[f]) << "frame " << f << " follows on (dummy frames between carry no data)";
        }
        errors += bitErrors(f, match + f - firstLocked);
        total += bits;
    }
    ASSERT_GT(total, 0u) << "no frame delivered in lock";
    const double ber = double(errors) / double(total);
    EXPECT_LE(ber, sc.maxBer) << errors << " of " << total;
    std::printf("%s: %zu frames, bit error ratio %.5f\n", sc.name, r.frames.size(), ber);
}

// At 20 dB no QPSK bit may be wrong; 8PSK, whose decision boundaries are
// only 22.5° away, may lose one in 10^5 to the carrier loop's phase jitter.
// Bounds at Es/N0 8 dB: uncoded QPSK has a bit error ratio of Q(√(Es/N0)) =
// 0.006 and Gray 8PSK about 0.058 (2Q(√(2Es/N0)·sin(π/8)) / 3 per bit); the
// carrier loop's phase jitter adds to that: at most twice, and 1.5 times.
INSTANTIATE_TEST_SUITE_P(
    Dvbs2, Framing,
    testing::Values(Scenario{"QPSK 1/2 normal pilots 20 dB", 4, false, true, 20, 0, 0.0, 1e-4},
                    Scenario{"QPSK 3/4 short no pilots 20 dB, dummies", 7, true, false, 20, 3, 0.0, 1e-4},
                    Scenario{"8PSK 2/3 normal pilots 20 dB", 13, false, true, 20, 0, 1e-5, 1e-4},
                    Scenario{"8PSK 3/5 short pilots 20 dB, dummies", 12, true, true, 20, 4, 1e-5, 1e-4},
                    Scenario{"QPSK 1/2 normal no pilots 8 dB", 4, false, false, 8, 0, 0.012, 1e-4},
                    Scenario{"QPSK 1/4 short pilots 8 dB, dummies", 1, true, true, 8, 5, 0.012, 1e-4},
                    Scenario{"8PSK 3/4 normal pilots 8 dB", 14, false, true, 8, 0, 0.09, 1e-4},
                    Scenario{"8PSK 3/5 normal no pilots 8 dB", 12, false, false, 8, 0, 0.09, 1e-4},
                    Scenario{"QPSK 1/2 normal pilots 4 dB", 4, false, true, 4, 0, 0.058, 1e-4},
                    // A residual carrier of 0.2 % of the symbol rate, more
                    // than the loop's proportional path holds at this gain:
                    // the carrier measured on the first header read puts the
                    // loop on it (first hit after frame 11, lock after 32;
                    // the loop alone needs until 18 and 42).
                    Scenario{"QPSK 1/2 normal pilots 4 dB, carrier 2e-3", 4, false, true, 4, 0, 0.058, 2e-3, 0, 36},
                    // A phase hit of one constellation step leaves the data
                    // loop content where it lands; the next SOF puts it back.
                    Scenario{"8PSK 2/3 normal pilots 20 dB, 45° phase hit", 13, false, true, 20, 0, 1e-5, 1e-4, M_PI / 4},
                    Scenario{"QPSK 3/4 short no pilots 20 dB, -90° phase hit", 7, true, false, 20, 0, 0.0, 1e-4, -M_PI / 2},
                    // The oscillator starts a quarter or a half turn away from
                    // the carrier: hard decisions misread the first SOFs, their
                    // sum against the known SOF does not, and the first header
                    // is read at the SOF's phase. (The first frame's SOF comes
                    // before the correlator has its 25 products: the second
                    // frame's is the first taken, the third's the first hit.)
                    // Uncoded 8PSK at 16 dB: 2.1e-4.
                    Scenario{"QPSK 1/2 normal pilots 16 dB, 100° at the start", 4, false, true, 16, 0, 0.0, 1e-4, 0, 20,
                             100 * M_PI / 180, 2},
                    Scenario{"8PSK 2/3 short pilots 16 dB, 180° at the start", 13, true, true, 16, 0, 5e-4, 1e-4, 0, 20,
                             M_PI, 2}),
    [](const testing::TestParamInfo<Scenario>& info) {
        // The scenario's name in letters and digits ("QPSK_1_2_normal_pilots_20_dB").
        std::string name;
        for (const char* c = info.param.name; *c != '\0'; ++c) {
            const bool keep = std::isalnum(static_cast<unsigned char>(*c)) != 0;
            if (keep)
                name += *c;
            else if (!name.empty() && name.back() != '_')
                name += '_';
        }
        while (!name.empty() && name.back() == '_')
            name.pop_back();
        return name;
    });

namespace {

// Clean short frames without pilots (QPSK 1/2 unless `modcod` says), as the
// resampler hands them over; `header(f)` may replace the PLS code of frame f.
std::vector<int16_t> shortFrameStream(int frames, const std::function<int(int)>& header, int modcod = 4)
{
    CounterTs ts;
    tx::TsBbFramer framer(ts, tx::RollOff::R035);
    tx::Dvbs2Config config;
    config.modcods = {modcod};
    config.frame = tx::FrameSize::Short;
    tx::Dvbs2Transmitter transmitter(config, framer);
    tx::PlFramer plFramer;
    std::vector<int16_t> in;
    for (int f = 0; f < frames; ++f) {
        std::vector<tx::cf32> symbols;
        transmitter.nextFrame(symbols);
        const int pls = header(f);
        if (pls >= 0)
            plFramer.header(pls, symbols.data());
        for (const auto& s : symbols) {   // negated by the matched filter, swapped by the resampler
            in.push_back(int16_t(std::lround(-s.imag() / Demodulator::kInputScale)));
            in.push_back(int16_t(std::lround(-s.real() / Demodulator::kInputScale)));
        }
    }
    return in;
}

int feed(Demodulator& demod, const std::vector<int16_t>& in)
{
    std::vector<cf> out(in.size() / 2);
    std::vector<int8_t> frame(Demodulator::kFrameBytes);
    int delivered = 0;
    for (size_t start = 0; start < in.size() / 2; start += 5000) {
        const size_t n = std::min<size_t>(5000, in.size() / 2 - start);
        delivered += demod.processS2(in.data() + 2 * start, n, out.data(), frame.data(), 0);
    }
    return delivered;
}

// Each symbol s of a stream as the resampler hands it over, (−Im s, −Re s),
// replaced by what `channel` makes of it (k: its index).
void passChannel(std::vector<int16_t>& in,
                 const std::function<std::complex<double>(size_t k, std::complex<double> s)>& channel)
{
    for (size_t k = 0; k < in.size() / 2; ++k) {
        const std::complex<double> out = channel(k, std::complex<double>(-in[2 * k + 1], -in[2 * k]));
        in[2 * k] = int16_t(std::lround(-out.imag()));
        in[2 * k + 1] = int16_t(std::lround(-out.real()));
    }
}

// No equalizer, the carrier loop on at the window's gains.
void useCarrierLoop(Demodulator& demod)
{
    demod.equalizer().setMode(Equalizer::Off);
    demod.loop().setGains(0.5f, 2.0f / 2048);
    demod.loop().setEnabled(true);
}

// The PLS codes of the headers `demod` reads from the stream, and how many
// frames it delivers.
struct HeadersRead {
    std::vector<uint8_t> codes;
    int delivered = 0;
};

HeadersRead readHeaders(Demodulator& demod, const std::vector<int16_t>& in)
{
    HeadersRead r;
    CaptureStdout();
    r.delivered = feed(demod, in);
    GetCapturedStdout();
    for (const FrameEvent& e : demod.events())
        if (e.kind == FrameEvent::Kind::HeaderRead)
            r.codes.push_back(e.plsCode);
    return r;
}

} // namespace

// A reserved MODCOD in the header: the frame is skipped and reported, the
// search resumes, the lock holds.
TEST(FramingBadInput, ReservedModcodIsSkippedAndReported)
{
    const std::vector<int16_t> in = shortFrameStream(40, [](int f) { return f == 30 ? tx::plsCode(29, true, false) : -1; });
    Demodulator demod;
    demod.equalizer().setMode(Equalizer::Off);
    const int delivered = feed(demod, in);
    int invalid = 0;
    for (const FrameEvent& e : demod.events())
        if (e.kind == FrameEvent::Kind::InvalidModcod) {
            ++invalid;
            EXPECT_EQ(plsModcod(e.plsCode), 29);
        }
    EXPECT_EQ(invalid, 1);
    EXPECT_TRUE(demod.locked());
    EXPECT_EQ(demod.plsCode(), 0x24);

    // The same stream with a proper header delivers exactly one frame more.
    Demodulator plain;
    plain.equalizer().setMode(Equalizer::Off);
    const int all = feed(plain, shortFrameStream(40, [](int) { return -1; }));
    EXPECT_GT(delivered, 10);
    EXPECT_EQ(delivered, all - 1);
}

// Symbols cut out of the middle of a frame: a frame delivered after the cut
// is marked as following lost data, the frames before it are not. (A whole
// frame cut out leaves the frame timing as it was: the stream layer sees
// that loss in the packet lengths.)
TEST(FramingBadInput, SymbolsCutOutMarkAFrameAsAfterAGap)
{
    std::vector<int16_t> in = shortFrameStream(70, [](int) { return -1; });
    const size_t frameSymbols = size_t(plFrameSymbols(0x24));
    ASSERT_EQ(frameSymbols, 8190u);
    const size_t cutAt = 25 * frameSymbols + 2000;
    in.erase(in.begin() + long(2 * cutAt), in.begin() + long(2 * (cutAt + 3000)));
    Demodulator demod;
    demod.equalizer().setMode(Equalizer::Off);
    std::vector<cf> out(frameSymbols);
    std::vector<int8_t> frame(Demodulator::kFrameBytes);
    std::vector<bool> afterGap;
    size_t deliveredBeforeCut = 0;
    CaptureStdout();
    for (size_t start = 0; start < in.size() / 2; start += frameSymbols / 3) {
        const size_t n = std::min(frameSymbols / 3, in.size() / 2 - start);
        if (demod.processS2(in.data() + 2 * start, n, out.data(), frame.data(), 0))
            afterGap.push_back(demod.deliveredAfterGap());
        if (start + n <= cutAt)
            deliveredBeforeCut = afterGap.size();
    }
    GetCapturedStdout();
    ASSERT_GE(deliveredBeforeCut, 20u);
    ASSERT_GE(afterGap.size(), deliveredBeforeCut + 8);
    EXPECT_TRUE(afterGap.front()) << "nothing came before the first";
    for (size_t k = 1; k < deliveredBeforeCut; ++k)
        EXPECT_FALSE(afterGap[k]) << "delivered frame " << k;
    const size_t marked = size_t(std::find(afterGap.begin() + long(deliveredBeforeCut), afterGap.end(), true) -
                                 afterGap.begin());
    // Until the lock runs out the frame timing carries on where the cut
    // left it and reads data as headers (marked or not, those frames fail
    // decoding); once the SOFs are found again the frames follow on.
    EXPECT_LT(marked, afterGap.size()) << "no frame after the cut marked";
    for (size_t k = afterGap.size() - 10; k < afterGap.size(); ++k)
        EXPECT_FALSE(afterGap[k]) << "delivered frame " << k;
}

// Before lock, an SOF whose code is no code word at all (the first frame's
// header read with the carrier still unknown, or an SOF-like run of data)
// does not start a frame: the search goes on at once and finds the next
// frame's SOF, where walking a frame of whatever code the noise spelled
// would have the search wait for up to a longest frame.
TEST(FramingBadInput, AnUnreadableHeaderBeforeLockStartsNoFrame)
{
    constexpr uint64_t kGarbage = 0x5A3C96E1F00FA55Aull;
    ASSERT_GT(__builtin_popcountll(encodePlsHeader(decodePlsHeader(encodePlsHeader(0x24) ^ kGarbage)) ^
                                   encodePlsHeader(0x24) ^ kGarbage),
              15);
    const int frames = 12;
    std::vector<int16_t> in = shortFrameStream(frames, [](int) { return -1; });
    for (int p = 0; p < 64; ++p)   // π/2-BPSK: a bit turned is the symbol negated
        if ((kGarbage >> (63 - p)) & 1u) {
            in[size_t(2 * (26 + p))] = int16_t(-in[size_t(2 * (26 + p))]);
            in[size_t(2 * (26 + p) + 1)] = int16_t(-in[size_t(2 * (26 + p) + 1)]);
        }
    Demodulator demod;
    demod.equalizer().setMode(Equalizer::Off);
    const HeadersRead r = readHeaders(demod, in);
    // Every header after the first is read, and only those; every frame
    // between them is delivered.
    ASSERT_EQ(r.codes.size(), size_t(frames - 1));
    for (uint8_t code : r.codes)
        EXPECT_EQ(code, 0x24);
    EXPECT_EQ(r.delivered, frames - 2);
}

// Before lock too, but once headers have followed each other in place: a
// header that reads as no code word where the last frame said the next
// begins is that frame's header read through the noise. The frame carries
// the code the frames before it did, and none is lost.
TEST(FramingBadInput, AnUnreadableHeaderInPlaceAfterOthersIsReadThroughTheNoise)
{
    constexpr uint64_t kGarbage = 0x5A3C96E1F00FA55Aull;
    const int frames = 12;
    const size_t frameSymbols = size_t(plFrameSymbols(0x24));
    auto garble = [&](std::vector<int16_t>& in, int frame) {
        for (int p = 0; p < 64; ++p)
            if ((kGarbage >> (63 - p)) & 1u) {
                const size_t k = size_t(frame) * frameSymbols + size_t(26 + p);
                in[2 * k] = int16_t(-in[2 * k]);
                in[2 * k + 1] = int16_t(-in[2 * k + 1]);
            }
    };
    std::vector<int16_t> in = shortFrameStream(frames, [](int) { return -1; });
    garble(in, 5);
    Demodulator demod;
    demod.equalizer().setMode(Equalizer::Off);
    HeadersRead r = readHeaders(demod, in);
    ASSERT_EQ(r.codes.size(), size_t(frames));
    for (uint8_t code : r.codes)
        EXPECT_EQ(code, 0x24);
    EXPECT_EQ(r.delivered, frames - 1);

    // Locked too: the code such a header reads as would give the frame
    // another length, the next header would not be in place, and the lock
    // would go with four frames.
    const int many = 24;
    in = shortFrameStream(many, [](int) { return -1; });
    garble(in, 20);
    Demodulator locked;
    locked.equalizer().setMode(Equalizer::Off);
    r = readHeaders(locked, in);
    EXPECT_TRUE(locked.locked());
    ASSERT_EQ(r.codes.size(), size_t(many));
    for (uint8_t code : r.codes)
        EXPECT_EQ(code, 0x24);
    EXPECT_EQ(r.delivered, many - 1);
    // Silence after it is no header read through the noise: no frame of
    // it is delivered as one of the stream's.
    Demodulator silenced;
    silenced.equalizer().setMode(Equalizer::Off);
    in = shortFrameStream(many, [](int) { return -1; });
    in.resize(in.size() + 2 * 2 * frameSymbols, 0);
    r = readHeaders(silenced, in);
    EXPECT_EQ(r.delivered, many);   // the last one completed by the silence's "header", none of silence

    // Two in a row are the signal gone: the second is not read as a header
    // (the search starts again from it).
    in = shortFrameStream(frames, [](int) { return -1; });
    garble(in, 5);
    garble(in, 6);
    Demodulator second;
    second.equalizer().setMode(Equalizer::Off);
    r = readHeaders(second, in);
    EXPECT_LE(r.codes.size(), size_t(frames - 1));
    for (uint8_t code : r.codes)
        EXPECT_EQ(code, 0x24);
}

// Before the headers hold (the second frame's): an unreadable header where
// the last frame said the next begins ends that frame, and the next is
// looked for a frame further on. (The search waited for a peak at one of the
// frame lengths after the unreadable one's SOF: three frames went by unread,
// as after a carrier cut by the filter was moved into it.)
TEST(FramingBadInput, AnUnreadableSecondHeaderLeavesTheNextInPlace)
{
    constexpr uint64_t kGarbage = 0x5A3C96E1F00FA55Aull;
    const int frames = 10;
    std::vector<int16_t> in = shortFrameStream(frames, [](int) { return -1; });
    const size_t frameSymbols = in.size() / 2 / frames;
    for (int p = 0; p < 64; ++p)
        if ((kGarbage >> (63 - p)) & 1u) {
            const size_t k = frameSymbols + size_t(26 + p);
            in[2 * k] = int16_t(-in[2 * k]);
            in[2 * k + 1] = int16_t(-in[2 * k + 1]);
        }
    Demodulator demod;
    useCarrierLoop(demod);
    const HeadersRead r = readHeaders(demod, in);
    ASSERT_EQ(r.codes.size(), size_t(frames - 1));
    for (uint8_t code : r.codes)
        EXPECT_EQ(code, 0x24);
    EXPECT_EQ(r.delivered, frames - 2);   // all but the unreadable one's and the last
}

// A carrier 2 % of the symbol rate off, where the loop starts at none: the
// first SOF taken shows it, and its header is read at that carrier rather
// than waiting for a second SOF to agree. A header read at the loop's own
// carrier would have turned by a cycle and a third over its 64 symbols.
TEST(FramingBadInput, TheFirstSofsCarrierReadsItsHeader)
{
    const int frames = 6;
    std::vector<int16_t> in = shortFrameStream(frames, [](int) { return -1; });
    passChannel(in, [](size_t k, std::complex<double> s) { return s * std::polar(1.0, 2 * M_PI * 0.02 * double(k)); });
    Demodulator demod;
    useCarrierLoop(demod);
    const std::vector<uint8_t> read = readHeaders(demod, in).codes;
    // Every header is read, and read right, from the first.
    ASSERT_EQ(read.size(), size_t(frames));
    for (uint8_t code : read)
        EXPECT_EQ(code, 0x24);
}

// Before lock at 3 dB, the carrier 0.4–0.5 % of the symbol rate off the
// loop's: a header's 64 symbols turn by a third of a cycle, too far to read,
// while one SOF's reading, or two agreeing, strays by about as much and does
// not move the loop. Read at the carrier its SOF shows, the first header
// decodes, and the loop takes the carrier the header shows: every frame is
// read from the first header in place, and delivered, on the carrier. (Read only at the
// loop's, one to three frames were lost in 7 of these 12 runs.)
TEST(FramingBadInput, AHeaderTurnedPastReadingIsReadAtItsSofsCarrier)
{
    const int frames = 10;
    for (double carrier : {0.004, 0.0045})
        for (unsigned seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE(testing::Message() << "carrier " << carrier << ", seed " << seed);
            Scenario sc{"QPSK 1/2 short no pilots 3 dB", 4, true, false, 3, 0, 0, carrier};
            sc.seed = seed;
            sc.startPhase = 0.7 * seed;
            const Received r = run(sc, frames);
            EXPECT_EQ(r.firstHitFrame, 1);
            ASSERT_EQ(r.frames.size(), size_t(frames - 1));
            // The last frame delivered (the last but one sent, which the last
            // header completed), by its hard decisions: Q(√(Es/N0)) = 8 % of
            // the bits wrong on the carrier, half of them slipping past it.
            size_t errors = 0;
            const std::vector<int8_t>& last = r.frames.back();
            const std::vector<uint8_t>& sent = r.sentCodewords[size_t(frames - 2)];
            for (size_t i = 0; i < sent.size(); ++i)
                errors += (last[i] < 0) != (sent[i] != 0);
            EXPECT_LT(double(errors) / double(sent.size()), 0.1);
        }
}

// Before lock, at 3 dB with the carrier 5 % of the symbol rate off: once a
// frame has been walked, each SOF where it said the next begins is taken,
// whichever correlator peaked there. None of the frames after the first
// delivered follows a gap.
TEST(FramingBadInput, EachSofWhereTheLastFrameSaidIsTakenBeforeLock)
{
    int gaps = 0;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        Scenario sc{"QPSK 1/2 short no pilots 3 dB, 5 %", 4, true, false, 3, 0, 0, 0.05};
        sc.startPhase = 0.3 * seed;
        sc.seed = seed;
        const Received r = run(sc, 30);
        ASSERT_GE(r.frames.size(), 20u) << "seed " << seed;
        for (size_t f = 1; f < r.frames.size(); ++f)
            if (r.frameAfterGap[f] && !r.frameLocked[f]) {
                ++gaps;
                ADD_FAILURE() << "seed " << seed << ": frame " << f << " of " << r.frames.size() << " follows a gap";
            }
    }
    EXPECT_EQ(gaps, 0);
}

// Before lock, a first header misread as another code word (a carrier a
// quarter of the symbol rate off turns one header into another) walks a
// frame of that code's length. The next PLHEADER, a short frame's length
// on, stands out of the walked frame's data: the walk ends there and the
// frames that follow are read, where walking on would have missed two and
// left the search on the misread frame's timing.
TEST(FramingBadInput, AFirstHeaderMisreadAsALongerFrameEndsItsWalk)
{
    const int frames = 12;
    constexpr uint8_t kMisread = 13;   // as read: 8PSK 2/3 normal, 21690 symbols
    ASSERT_EQ(plFrameSymbols(kMisread), 21690);
    const std::vector<int16_t> in =
        shortFrameStream(frames, [](int f) { return f == 0 ? tx::plsCode(kMisread, false, false) : -1; });
    Demodulator demod;
    demod.equalizer().setMode(Equalizer::Off);
    const HeadersRead r = readHeaders(demod, in);
    ASSERT_EQ(r.codes.size(), size_t(frames));
    EXPECT_EQ(r.codes.front(), kMisread);
    for (size_t f = 1; f < r.codes.size(); ++f)
        EXPECT_EQ(r.codes[f], 0x24) << "header " << f;
    EXPECT_EQ(r.delivered, frames - 2);
}

// The same before lock but after headers read in place: a header read with
// several bit errors as a longer frame's (a loop off the carrier misreads
// the frame size or pilot flag as readily) ends its walk where the next
// PLHEADER stands. A clean header is not doubted.
TEST(FramingBadInput, ADoubtfulHeaderMisreadAsALongerFrameEndsItsWalk)
{
    const int frames = 12;
    constexpr uint8_t kMisread = 13;   // 8PSK 2/3 normal, 21690 symbols
    const size_t frameSymbols = size_t(plFrameSymbols(0x24));
    for (int errors : {5, 0}) {
        SCOPED_TRACE(errors);
        std::vector<int16_t> in =
            shortFrameStream(frames, [](int f) { return f == 3 ? tx::plsCode(kMisread, false, false) : -1; });
        for (int p = 0; p < errors; ++p) {   // π/2-BPSK: a bit turned is the symbol negated
            const size_t k = 3 * frameSymbols + 26 + size_t(7 * p);
            in[2 * k] = int16_t(-in[2 * k]);
            in[2 * k + 1] = int16_t(-in[2 * k + 1]);
        }
        Demodulator demod;
        demod.equalizer().setMode(Equalizer::Off);
        const HeadersRead r = readHeaders(demod, in);
        ASSERT_GE(r.codes.size(), 4u);
        EXPECT_EQ(r.codes[3], kMisread);
        // Walked to its end, the misread frame hides the next headers.
        if (errors > 0)
            EXPECT_EQ(r.codes.size(), size_t(frames));
        else
            EXPECT_LE(r.codes.size(), size_t(frames - 2));
    }
}

// Before lock, a frame whose SOF and header are lost (silence here; a mixer
// move landing or a burst of noise at the start does the same): the next
// SOF is looked for a frame further on, where the last frame read said the
// stream's frames fall, rather than only at another code's frame length from
// the last SOF taken, which would miss three more frames. A symbol lost on
// the way (the timing loop's step as a move of the mixer lands) leaves it
// in place all the same.
TEST(FramingBadInput, AFrameMissedBeforeLockLeavesTheNextInPlace)
{
    const int frames = 12;
    const size_t frameSymbols = size_t(plFrameSymbols(0x24));
    for (int lost : {0, 1}) {
        SCOPED_TRACE(lost);
        std::vector<int16_t> in = shortFrameStream(frames, [](int) { return -1; });
        std::fill(in.begin() + long(2 * 2 * frameSymbols), in.begin() + long(2 * (2 * frameSymbols + 90)), int16_t(0));
        const long at = long(2 * (2 * frameSymbols + 3000));
        in.erase(in.begin() + at, in.begin() + at + 2 * lost);
        Demodulator demod;
        demod.equalizer().setMode(Equalizer::Off);
        const HeadersRead r = readHeaders(demod, in);
        EXPECT_FALSE(demod.locked());
        ASSERT_EQ(r.codes.size(), size_t(frames - 1));
        for (uint8_t code : r.codes)
            EXPECT_EQ(code, 0x24);
        EXPECT_EQ(r.delivered, frames - 2);   // all but the one lost and the last
    }
}

// Before lock, 8PSK at 8 dB with the loop's integrator 0.06 (1/256 cycle per
// symbol) off the carrier, as a header's reading may leave it: the narrow
// loop slips through the constellation's steps and, on its own, takes some
// six frames to creep there. The frame's data shows the carrier it missed,
// and the next frame runs on it.
TEST(FramingBadInput, ACarrierTheLoopSlipsPastIsReadFromTheData)
{
    const int frames = 13;
    constexpr uint8_t k8psk23 = 13;
    std::vector<int16_t> in = shortFrameStream(frames, [](int) { return -1; }, k8psk23);
    const size_t frameSymbols = size_t(plFrameSymbols(k8psk23 | 0x20));   // short, no pilots
    ASSERT_EQ(frameSymbols, 5490u);
    constexpr double kCarrier = 0.0001;   // cycles per symbol
    constexpr double kEsN0 = 7.4;         // dB: below where the first frames run the loop wider
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, std::sqrt(std::pow(10, -kEsN0 / 10) / 2) / Demodulator::kInputScale);
    passChannel(in, [&](size_t k, std::complex<double> s) {
        return s * std::polar(1.0, 2 * M_PI * kCarrier * double(k) + 0.3) + std::complex<double>(noise(rng), noise(rng));
    });
    Demodulator demod;
    useCarrierLoop(demod);
    demod.setPsk8IntegralGain(1.0f / 4096);
    std::vector<cf> out(in.size() / 2);
    std::vector<int8_t> frame(Demodulator::kFrameBytes);
    // Into the tenth frame's data, once the first frames' wider loop has
    // narrowed.
    const size_t pushAt = 9 * frameSymbols + 1000;
    CaptureStdout();
    demod.processS2(in.data(), pushAt, out.data(), frame.data(), 0);
    GetCapturedStdout();
    ASSERT_GE(demod.lockCounter(), 8);
    ASSERT_NEAR(demod.framing().carrierCycles(), kCarrier, 0.01 / 256) << "the headers found the carrier";
    demod.loop().integrator += 0.06f;
    demod.loop().frequency += 0.06f;
    const size_t checkAt = 11 * frameSymbols + 100;   // the twelfth frame's header
    CaptureStdout();
    demod.processS2(in.data() + 2 * pushAt, checkAt - pushAt, out.data(), frame.data(), 0);
    GetCapturedStdout();
    EXPECT_FALSE(demod.locked());
    EXPECT_NEAR(demod.framing().carrierCycles(), kCarrier, 0.01 / 256);
}

namespace {

// QPSK 1/2 short frames at 3 dB with the carrier 5 % of the symbol rate off,
// and the mixer moved by 5.6 % at symbol `moveAt`, once headers have been
// read in place: how far the loop stood from what is left of the carrier at
// any block after the move, and whether each frame delivered after the
// first followed a gap.
struct MoveOutcome {
    double furthest = 0;
    std::vector<bool> afterGap;
};

MoveOutcome moveUnderTheLoop(int frames, size_t moveAt)
{
    std::vector<int16_t> in = shortFrameStream(frames, [](int) { return -1; });
    constexpr double kCarrier = 0.05, kMove = 0.056;   // cycles per symbol
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0, std::sqrt(std::pow(10, -3.0 / 10) / 2) / Demodulator::kInputScale);
    // What is left of the carrier once the mixer has taken off what it has
    // moved by, at Es/N0 3 dB.
    passChannel(in, [&](size_t k, std::complex<double> s) {
        const double phase = kCarrier * double(k) - (k >= moveAt ? kMove * double(k - moveAt) : 0.0);
        return s * std::polar(1.0, 2 * M_PI * phase) + std::complex<double>(noise(rng), noise(rng));
    });
    Demodulator demod;
    useCarrierLoop(demod);
    std::vector<cf> out(in.size() / 2);
    std::vector<int8_t> frame(Demodulator::kFrameBytes);
    MoveOutcome o;
    const auto process = [&](size_t from, size_t to) {
        if (demod.processS2(in.data() + 2 * from, to - from, out.data(), frame.data(), 0))
            o.afterGap.push_back(demod.deliveredAfterGap());
    };
    CaptureStdout();
    for (size_t start = 0; start < moveAt; start += 1000)
        process(start, std::min(start + 1000, moveAt));
    const int lockCount = demod.lockCounter();
    demod.shiftCarrier(kMove, 0, true);
    for (size_t start = moveAt; start < in.size() / 2; start += 1000) {
        process(start, std::min(start + 1000, in.size() / 2));
        o.furthest = std::max(o.furthest, std::fabs(demod.framing().carrierCycles() - (kCarrier - kMove)));
    }
    GetCapturedStdout();
    EXPECT_GT(lockCount, 0) << "no header read in place before the move";
    return o;
}

} // namespace

// A move of the mixer to the band's centre, asked for before the loop had
// found the carrier, arrives after headers have decoded where their frames
// said: the loop holds the carrier by then, closer than the band's centre
// tells it, and follows it through the move rather than starting again at
// the band's centre (here 0.6 % of the symbol rate off the carrier, which
// the loop at 3 dB would take frames to pull in, its headers misread).
TEST(FramingBadInput, AMoveToTheBandArrivingAfterTheCarrierWasFoundIsFollowed)
{
    const int frames = 16;
    const size_t frameSymbols = size_t(plFrameSymbols(0x24));
    // Into the fifth frame's data. From the move on, block by block, the loop
    // stands on what is left of the carrier (started again, it stood 0.6 %
    // off until the next header but one had been read).
    const MoveOutcome o = moveUnderTheLoop(frames, 4 * frameSymbols + 80);
    EXPECT_LT(o.furthest, 2e-4);
    ASSERT_EQ(o.afterGap.size(), size_t(frames - 1));
    for (size_t f = 1; f < o.afterGap.size(); ++f)
        EXPECT_FALSE(o.afterGap[f]) << "frame " << f;
}

// The same move arriving while the fifth frame's SOF or PLS code is read:
// its symbols before the move and after show no one carrier, and the loop,
// which followed the move, is not set from them (from the header read
// across the move it was, 0.1 % of the symbol rate off, and frames lost).
TEST(FramingBadInput, AMoveArrivingWhileAHeaderIsReadKeepsTheLoopOnTheCarrier)
{
    const int frames = 16;
    const size_t frameSymbols = size_t(plFrameSymbols(0x24));
    for (size_t into : {12, 60}) {
        SCOPED_TRACE(into);
        const MoveOutcome o = moveUnderTheLoop(frames, 4 * frameSymbols + into);
        EXPECT_LT(o.furthest, 2e-4);
        ASSERT_EQ(o.afterGap.size(), size_t(frames - 1));
        for (size_t f = 1; f < o.afterGap.size(); ++f)
            EXPECT_FALSE(o.afterGap[f]) << "frame " << f;
    }
}

// Before lock the mixer moves a carrier cut by the filter's edge into it:
// the gain control holds the level, so the symbols' moments show no step,
// but what they said of the Es/N0 before the move (here −1 dB, after it
// 3 dB) was the edge's. The reading after the move is the new one's, for
// the soft values of the frames that follow (the moments of before held it
// near 0 dB for a dozen frames, and the first frames after the move
// failed).
TEST(FramingBadInput, TheEsN0ReadBeforeAMoveIsForgotten)
{
    const int before = 12, frames = 16;
    std::vector<int16_t> in = shortFrameStream(frames, [](int) { return -1; });
    const size_t moveAt = size_t(before) * size_t(plFrameSymbols(0x24));
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 1);
    // Signal and noise at a constant total power, as the gain control sets.
    auto levels = [](double esn0Db) {
        const double n = 1 / (1 + std::pow(10, esn0Db / 10));
        return std::pair<double, double>{std::sqrt(1 - n), std::sqrt(n / 2)};
    };
    const auto [cutSignal, cutNoise] = levels(-1);
    const auto [signal, noiseLevel] = levels(3);
    // The carrier 0.2 % of the symbol rate off until the mixer takes it off.
    constexpr double kCarrier = 0.002;
    passChannel(in, [&](size_t k, std::complex<double> s) {
        const bool moved = k >= moveAt;
        const double scale = (moved ? noiseLevel : cutNoise) / Demodulator::kInputScale;
        const double turn = kCarrier * double(std::min(k, moveAt));
        return s * (moved ? signal : cutSignal) * std::polar(1.0, 2 * M_PI * turn) +
               std::complex<double>(noise(rng), noise(rng)) * scale;
    });
    Demodulator demod;
    useCarrierLoop(demod);
    std::vector<cf> out(in.size() / 2);
    std::vector<int8_t> frame(Demodulator::kFrameBytes);
    CaptureStdout();
    demod.processS2(in.data(), moveAt, out.data(), frame.data(), 0);
    const SignalQualityReading cut = demod.frameQualityS2();
    demod.shiftCarrier(kCarrier, 0, false);
    const size_t after = moveAt + 3 * size_t(plFrameSymbols(0x24));
    demod.processS2(in.data() + 2 * moveAt, after - moveAt, out.data(), frame.data(), 0);
    GetCapturedStdout();
    ASSERT_FALSE(demod.locked());
    ASSERT_TRUE(cut.valid);
    EXPECT_NEAR(cut.esn0Db, -1, 0.5);
    const SignalQualityReading moved = demod.frameQualityS2();
    ASSERT_TRUE(moved.valid);
    EXPECT_NEAR(moved.esn0Db, 3, 1);
}


// Before lock, the mixer's move arriving in an SOF: the symbols either side
// of it that the loop takes at the wrong carrier can turn the header's second
// half by half a turn, and that makes another code word of it, read without
// an error (here the same frame with pilots; in a chain run a normal frame,
// whose length walked past four short ones). In place after frames of one
// code, the frame carries that code and the next frames are read where they
// are.
TEST(FramingBadInput, AHeaderTheMoveArrivesInKeepsTheLastCode)
{
    constexpr uint64_t kSecondHalf = 0x00000000FFFFFFFFull;
    ASSERT_EQ(plsHeaderErrors(encodePlsHeader(0x24) ^ kSecondHalf), 0);
    ASSERT_NE(decodePlsHeader(encodePlsHeader(0x24) ^ kSecondHalf), 0x24);
    const int frames = 10;
    std::vector<int16_t> in = shortFrameStream(frames, [](int) { return -1; });
    const size_t frameSymbols = in.size() / 2 / frames;
    const size_t moveAt = 3 * frameSymbols + 10;   // in the fourth frame's SOF
    constexpr double kCarrier = 0.002;
    passChannel(in, [&](size_t k, std::complex<double> s) {
        const size_t inHeader = k - 3 * frameSymbols - 26;
        const bool turned = k >= 3 * frameSymbols + 26 && inHeader >= 32 && inHeader < 64;
        return (turned ? -s : s) * std::polar(1.0, 2 * M_PI * kCarrier * double(std::min(k, moveAt)));
    });
    Demodulator demod;
    useCarrierLoop(demod);
    std::vector<cf> out(in.size() / 2);
    std::vector<int8_t> frame(Demodulator::kFrameBytes);
    int delivered = 0;
    auto process = [&](size_t from, size_t to) {   // a frame at most at a time
        for (size_t start = from; start < to; start += 5000)
            delivered += demod.processS2(in.data() + 2 * start, std::min<size_t>(5000, to - start), out.data(),
                                         frame.data(), 0);
    };
    CaptureStdout();
    process(0, moveAt);
    ASSERT_GT(demod.lockCounter(), 0) << "no header read in place before the move";
    demod.shiftCarrier(kCarrier, 0, false);
    process(moveAt, in.size() / 2);
    GetCapturedStdout();
    std::vector<uint8_t> codes;
    for (const FrameEvent& e : demod.events())
        if (e.kind == FrameEvent::Kind::HeaderRead)
            codes.push_back(e.plsCode);
    ASSERT_EQ(codes.size(), size_t(frames));
    for (uint8_t code : codes)
        EXPECT_EQ(code, 0x24);
    EXPECT_EQ(delivered, frames - 1);
}


// With keep-lock set, a header that decodes to something else leaves the
// code as it was.
TEST(FramingBadInput, KeepLockHoldsThePlsCodeThroughAWrongHeader)
{
    const std::vector<int16_t> start = shortFrameStream(30, [](int) { return -1; });
    // One frame whose header announces another code; only its SOF, header
    // and first slots are fed, so the next header read is this one.
    std::vector<int16_t> wrong = shortFrameStream(1, [](int) { return tx::plsCode(11, true, true); });
    wrong.resize(2 * 500);
    for (bool keep : {false, true}) {
        Demodulator demod;
        demod.equalizer().setMode(Equalizer::Off);
        CaptureStdout();
        feed(demod, start);
        demod.setKeepLock(keep);
        feed(demod, wrong);
        GetCapturedStdout();
        EXPECT_EQ(demod.plsCode(), keep ? 0x24 : 0x6B) << keep;
    }
}

namespace {

// The stream through a worker's process(), a block at a time, as the chain
// hands it over; returns the frames delivered.
int feedWorker(DemodWorker& worker, const std::vector<int16_t>& in)
{
    int delivered = 0;
    for (size_t start = 0; start < in.size(); start += 2 * 5000) {
        const size_t n = std::min<size_t>(2 * 5000, in.size() - start);
        WorkBuffer input(2 * n), output(DemodWorker::outputBytes(2 * n));
        std::memcpy(input.data(), in.data() + start, 2 * n);
        worker.process(&input, &output);
        delivered += output.size() > DemodWorker::symbolBytes(input.size());
    }
    return delivered;
}

} // namespace

// The worker tells what the framing reports: the lock on standard output,
// a skipped frame on the error stream.
TEST(DemodWorkerFraming, LockAndSkippedFramesAreLogged)
{
    DemodWorker worker(nullptr);
    CaptureStdout();
    testing::internal::CaptureStderr();
    worker.setEqualizerMode(EqualizerMode::Off);
    feedWorker(worker, shortFrameStream(40, [](int f) { return f == 30 ? tx::plsCode(29, true, false) : -1; }));
    const std::string log = GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ignoring frame, invalid modcode (RESERVED (29))\n");
    EXPECT_NE(log.find("LOCKED :)\n"), std::string::npos);
    EXPECT_TRUE(worker.locked());
    const auto statistics = worker.modcodStatistics();
    EXPECT_GT(statistics[0x24].count, 10) << "headers read while locked";
}

// The constellation's symbols reach the display only while one is shown:
// the header symbols chosen, with the constellation they belong to, the
// newest when the display takes fewer than came.
TEST(DemodWorkerFraming, SymbolsForTheDisplayOnlyWhileShown)
{
    DemodWorker worker(nullptr);
    worker.setEqualizerMode(EqualizerMode::Off);
    worker.setDisplaySource(DisplaySource::Header);
    const std::vector<int16_t> in = shortFrameStream(6, [](int) { return -1; });
    std::vector<std::complex<float>> taken;
    CaptureStdout();
    feedWorker(worker, in);
    worker.displaySymbols().take(taken);
    EXPECT_TRUE(taken.empty()) << "none while no display is shown";
    EXPECT_EQ(worker.displaySymbols().constellation(), nullptr);

    worker.setDisplaying(true);
    feedWorker(worker, std::vector<int16_t>(in.begin(), in.begin() + 2 * 8190));   // one more frame
    GetCapturedStdout();
    worker.displaySymbols().take(taken);
    // One PLHEADER: 90 π/2-BPSK symbols, on the diagonals at unit level.
    ASSERT_EQ(taken.size(), 90u);
    for (const std::complex<float>& z : taken) {
        EXPECT_NEAR(std::abs(z), 1.0f, 0.05f);
        EXPECT_NEAR(std::fabs(z.real()), std::fabs(z.imag()), 0.05f);
    }
    EXPECT_EQ(worker.displaySymbols().constellation(), &constQPSK());
    worker.displaySymbols().take(taken);
    EXPECT_TRUE(taken.empty()) << "each symbol taken once";
}

TEST(DisplaySymbols, KeepsTheNewestInOrder)
{
    DisplaySymbols displayed;
    std::vector<std::complex<float>> block;
    for (int k = 0; k < 10000; ++k)
        block.emplace_back(float(k), 0.0f);
    displayed.push(block, nullptr);
    displayed.push(block, &const8PSK());   // 20000 pushed: the oldest 3616 are gone
    std::vector<std::complex<float>> taken;
    displayed.take(taken);
    ASSERT_EQ(taken.size(), DisplaySymbols::kCapacity);
    for (size_t k = 0; k < taken.size(); ++k)
        EXPECT_EQ(taken[k].real(), float((20000 - DisplaySymbols::kCapacity + k) % 10000)) << k;
    EXPECT_EQ(displayed.constellation(), &const8PSK());

    // A block longer than the ring: its newest symbols.
    block.resize(DisplaySymbols::kCapacity + 5);
    for (size_t k = 0; k < block.size(); ++k)
        block[k] = {float(k), 1.0f};
    displayed.push({{-1.0f, 0.0f}}, nullptr);
    displayed.push(block, nullptr);
    displayed.take(taken);
    ASSERT_EQ(taken.size(), DisplaySymbols::kCapacity);
    EXPECT_EQ(taken.front(), std::complex<float>(5.0f, 1.0f));
    EXPECT_EQ(taken.back(), std::complex<float>(float(block.size() - 1), 1.0f));
}

// A requested dump writes the next delivered frame to ldpc_debug/ under the
// working directory; a dump that cannot be written is logged and the frame
// goes on regardless.
TEST(DemodWorkerFraming, FrameDumpWrittenOrLogged)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(testing::TempDir()) / ("tavirel-dump-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    const std::vector<int16_t> in = shortFrameStream(30, [](int) { return -1; });
    for (bool writable : {true, false}) {
        fs::remove_all("ldpc_debug");
        if (!writable)
            std::ofstream("ldpc_debug") << "a file where the folder would go";
        DemodWorker worker(nullptr);
        CaptureStdout();
        worker.setEqualizerMode(EqualizerMode::Off);
        worker.requestFrameDump();
        const int delivered = feedWorker(worker, in);
        const std::string log = GetCapturedStdout();
        EXPECT_GT(delivered, 5);
        if (writable) {
            ASSERT_TRUE(fs::exists("ldpc_debug/xfecframe.0"));
            EXPECT_EQ(fs::file_size("ldpc_debug/xfecframe.0"), 16200u);
            EXPECT_FALSE(fs::exists("ldpc_debug/xfecframe.1")) << "one frame per request";
        } else {
            EXPECT_NE(log.find("XFECFRAME dump: cannot open ldpc_debug/xfecframe.0 for writing\n"), std::string::npos)
                << log;
        }
    }
    fs::current_path(previous);
    fs::remove_all(dir);
}
