// The whole DVB-S receiver: samples in through the device callback, transport
// stream out of the chain's observer.
#include "receiver/ProcessingChain.h"
#include "tx/SignalGenerator.h"
#include "tx/TsSource.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <thread>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using testsupport::readFile;

const std::string kSourceTs = std::string(TAVIREL_TEST_DATA) + "/../tx/data/agreement.ts";

// A chain set up for DVB-S at 1 Msym/s from 2 Msps, fed a block at a time.
struct DvbsReceiver {
    ProcessingChain chain;
    std::mutex mutex;
    std::vector<uint8_t> ts;

    explicit DvbsReceiver(int rateIndex, int derotation)
    {
        chain.firWorker().designMatchedFilter(2000000, 1000000, 64, 0.35f);
        chain.resampleWorker().setTEDGain(6);
        chain.resampleWorker().setTEDDamping(15);
        chain.resampleWorker().setSymbolRate(4000000, 1000000);
        chain.demodWorker().setDVBMode(false);
        // The resampler hands on (Q, I); "Inverted" negates the second, which
        // makes that a quarter turn the derotation can undo.
        chain.demodWorker().setSpectrumInverted(true);
        chain.demodWorker().setDerotation(derotation);
        chain.setDvbS2Mode(false);
        chain.viterbiWorker().setDepunctureIndex(rateIndex);
        chain.setTransportStreamObserver([this](const uint8_t* b, size_t n) {
            std::lock_guard<std::mutex> lock(mutex);
            ts.insert(ts.end(), b, b + n);
        });
        chain.start();
    }
    ~DvbsReceiver() { chain.stop(); }

    // Feeds s16 samples and waits until the chain has worked through them.
    void feed(const int16_t* iq, size_t samples)
    {
        for (size_t k = 0; k < samples; ++k)
            chain.sampleCallback()(iq[2 * k], iq[2 * k + 1]);
        chain.waitIdle(std::chrono::seconds(8));
    }
    std::vector<uint8_t> stream()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return ts;
    }
};

// The test transmitter's signal, s16 at an RMS of 4096 counts.
struct DvbsSignal {
    tx::SignalGenerator generator;
    std::vector<tx::cf32> pending;

    explicit DvbsSignal(tx::DvbsRate rate) : generator(settings(rate)) {}
    static tx::TxSettings settings(tx::DvbsRate rate)
    {
        tx::TxSettings s;
        s.standard = tx::Standard::Dvbs;
        s.dvbsRate = rate;
        s.tsPath = kSourceTs;
        s.tsLoop = true;
        return s;
    }
    std::vector<int16_t> next(size_t samples)
    {
        while (pending.size() < samples)
            generator.nextUnit(pending);
        std::vector<int16_t> out(2 * samples);
        for (size_t k = 0; k < samples; ++k) {
            out[2 * k] = int16_t(std::lround(pending[k].real() * 4096.0f));
            out[2 * k + 1] = int16_t(std::lround(pending[k].imag() * 4096.0f));
        }
        pending.erase(pending.begin(), pending.begin() + long(samples));
        return out;
    }
};

// Packets of `ts` from the first one found in `source` (looped): how many
// follow in order, and how many there were in all from there.
struct Agreement {
    size_t start = 0;       // packets before the first one found
    size_t inOrder = 0;
    size_t total = 0;
};

Agreement compareLooped(const std::vector<uint8_t>& ts, const std::vector<uint8_t>& source)
{
    Agreement a;
    const size_t packets = ts.size() / 188, sourcePackets = source.size() / 188;
    for (; a.start < packets; ++a.start) {
        const auto p = ts.begin() + long(a.start * 188);
        bool found = false;
        // Null packets repeat: every place the first one appears is tried.
        for (size_t first = 0; first < sourcePackets; ++first) {
            if (!std::equal(p, p + 188, source.begin() + long(first * 188)))
                continue;
            found = true;
            size_t inOrder = 0;
            for (size_t k = a.start, s = first; k < packets; ++k, s = (s + 1) % sourcePackets) {
                if (!std::equal(ts.begin() + long(k * 188), ts.begin() + long(k * 188 + 188),
                                source.begin() + long(s * 188)))
                    break;
                ++inOrder;
            }
            a.inOrder = std::max(a.inOrder, inOrder);
        }
        if (found) {
            a.total = packets - a.start;
            break;
        }
    }
    return a;
}

// The derotation that undoes the front end's fixed turn of a clean signal
// (the swapped components, and the matched filter's sign).
constexpr int kDerotation = 64;

} // namespace

// Every code rate: after lock (the depuncturing phase found with the skip
// button, as a user would), the transport stream comes out packet for packet
// as sent.
TEST(DvbsChain, EveryRateDecodesToTheTransmittedStream)
{
    const std::vector<uint8_t> source = readFile(kSourceTs);
    ASSERT_EQ(source.size(), 200u * 188);
    const tx::DvbsRate rates[] = {tx::DvbsRate::R12, tx::DvbsRate::R23, tx::DvbsRate::R34, tx::DvbsRate::R56,
                                  tx::DvbsRate::R78};
    for (int r = 0; r < 5; ++r) {
        CaptureStdout();
        size_t skips = 0;
        Agreement a;
        {
            DvbsReceiver rx(r, kDerotation);
            DvbsSignal signal(rates[r]);
            const int period = rx.chain.viterbiWorker().period();
            // A phase gets 200 packets' worth of symbols to lock in.
            const size_t blocksPerPhase = size_t(200 * 1632 / (8192 * 2 * tx::dvbsRateNumerator(rates[r]) /
                                                                 double(tx::dvbsRateDenominator(rates[r]))) + 1);
            size_t waited = 0;
            for (int block = 0; block < 400; ++block) {
                const std::vector<int16_t> iq = signal.next(ProcessingChain::kBlockSamples);
                rx.feed(iq.data(), ProcessingChain::kBlockSamples);
                if (rx.chain.dvbsDecoding().status().lockedPackets >= 130)
                    break;
                if (rx.chain.dvbsDecoding().status().syncState < 2 && ++waited > blocksPerPhase &&
                    skips < size_t(period)) {
                    rx.chain.viterbiWorker().requestSymbolSkip();
                    ++skips;
                    waited = 0;
                }
            }
            a = compareLooped(rx.stream(), source);
        }
        const std::string log = GetCapturedStdout();
        EXPECT_NE(log.find("SYNC_LOCKING\n"), std::string::npos) << "rate " << r;
        EXPECT_GE(a.total, 90u) << "rate " << r << ", " << skips << " skips";
        EXPECT_EQ(a.inOrder, a.total) << "rate " << r;
        EXPECT_LE(a.start, 14u) << "rate " << r << ": only the deinterleaver's first packets are lost";
    }
}

// A recording of an independent transmitter (rate 1/2, clean, s16): the
// packets that come out are the recording's transport stream, in order,
// without a single correction. The depuncturing phase the chain starts in is
// tried first, then the other one (one press of the skip button).
TEST(DvbsChain, IndependentRecordingDecodesToItsStream)
{
    const std::string dir = TAVIREL_TEST_DATA;
    const std::vector<uint8_t> raw = readFile(dir + "/dvbs_qpsk12.iq");
    const std::vector<uint8_t> expected = readFile(dir + "/dvbs_qpsk12.ts");
    ASSERT_EQ(raw.size(), 4000000u);
    std::vector<int16_t> iq(raw.size() / 2);
    for (size_t k = 0; k < iq.size(); ++k)
        iq[k] = int16_t(raw[2 * k] | raw[2 * k + 1] << 8);
    const std::vector<int16_t> silence(2 * ProcessingChain::kBlockSamples, 0);

    bool decoded = false;
    for (int skips = 0; skips < 2 && !decoded; ++skips) {
        CaptureStdout();
        std::vector<uint8_t> ts;
        {
            DvbsReceiver rx(0, kDerotation);
            if (skips)
                rx.chain.viterbiWorker().requestSymbolSkip();
            rx.feed(iq.data(), iq.size() / 2);
            rx.feed(silence.data(), ProcessingChain::kBlockSamples);   // the last block
            ts = rx.stream();
        }
        const std::string log = GetCapturedStdout();
        if (log.find("SYNC_LOCKING\n") == std::string::npos)
            continue;
        decoded = true;
        EXPECT_EQ(log.find("Reed Solomon corrected"), std::string::npos);
        ASSERT_EQ(ts.size() % 188, 0u);
        const Agreement a = compareLooped(ts, expected);
        // 295 packets are complete in the recording; lock and the
        // deinterleaver's first packets take a share. Every one after that
        // comes out right, up to where the recording ends (what follows was
        // decoded from the silence that pushed the last block through).
        EXPECT_GE(a.inOrder, 150u) << log.substr(0, 3000);
        const auto first = std::search(expected.begin(), expected.end(), ts.begin() + long(a.start * 188),
                                       ts.begin() + long(a.start * 188 + 188));
        EXPECT_GE(size_t(first - expected.begin()) / 188 + a.inOrder, 290u);
    }
    EXPECT_TRUE(decoded) << "no depuncturing phase locked";
}

// The independent transmitter's rate 7/8 recording at Es/N0 10 dB (s8):
// soft decisions and Reed–Solomon bring every packet back. The depuncturing
// phase is found by trying each in turn, as with the skip button. The
// equalizer is off: the constant-modulus one leaves the phase free, and
// without the carrier loop noise turns the constellation away.
TEST(DvbsChain, NoisyRate78RecordingDecodesToItsStream)
{
    const std::string dir = TAVIREL_TEST_DATA;
    const std::vector<uint8_t> raw = readFile(dir + "/dvbs_qpsk78.iq");
    const std::vector<uint8_t> expected = readFile(dir + "/dvbs_qpsk78.ts");
    ASSERT_EQ(raw.size(), 2000000u);
    std::vector<int16_t> iq(raw.size());
    for (size_t k = 0; k < iq.size(); ++k)
        iq[k] = int16_t(int8_t(raw[k]) * 256);
    const std::vector<int16_t> silence(2 * ProcessingChain::kBlockSamples, 0);

    bool decoded = false;
    for (int skips = 0; skips < 8 && !decoded; ++skips) {
        CaptureStdout();
        std::vector<uint8_t> ts;
        uint64_t refused = 0;
        {
            DvbsReceiver rx(4, kDerotation);
            rx.chain.demodWorker().setEqualizerMode(EqualizerMode::Off);
            for (int k = 0; k < skips; ++k) {
                // One value per press: the button is a flag, so a block between presses.
                rx.chain.viterbiWorker().requestSymbolSkip();
                rx.feed(iq.data() + 2 * ProcessingChain::kBlockSamples * size_t(k), ProcessingChain::kBlockSamples);
            }
            rx.feed(iq.data() + 2 * ProcessingChain::kBlockSamples * size_t(skips),
                    iq.size() / 2 - ProcessingChain::kBlockSamples * size_t(skips));
            rx.feed(silence.data(), ProcessingChain::kBlockSamples);
            ts = rx.stream();
            refused = rx.chain.dvbsDecoding().status().uncorrectable;
        }
        const std::string log = GetCapturedStdout();
        if (log.find("SYNC_LOCKING\n") == std::string::npos)
            continue;
        decoded = true;
        const Agreement a = compareLooped(ts, expected);
        const auto first = std::search(expected.begin(), expected.end(), ts.begin() + long(a.start * 188),
                                       ts.begin() + long(a.start * 188 + 188));
        EXPECT_GE(a.inOrder, 300u) << skips << " skips";
        EXPECT_GE(size_t(first - expected.begin()) / 188 + a.inOrder, 515u) << skips << " skips";
        EXPECT_NE(log.find("Reed Solomon corrected"), std::string::npos) << "a noisy signal needs corrections";
        // Refused words: the deinterleaver's first eleven after the lock and
        // the end, decoded from silence.
        EXPECT_LE(refused, 30u);
    }
    EXPECT_TRUE(decoded) << "no depuncturing phase locked";
}

// The chain's own alignment search: started a quarter turn off, it turns the
// derotation and skips values until the stream decodes.
TEST(DvbsChain, AlignmentSearchFindsTheTurnAndPhase)
{
    const std::vector<uint8_t> source = readFile(kSourceTs);
    CaptureStdout();
    Agreement a;
    int derotation = -1;
    {
        DvbsReceiver rx(2, (kDerotation + 64) % 256);
        EXPECT_FALSE(rx.chain.dvbsDecoding().alignmentSearch()) << "off unless asked for";
        rx.chain.dvbsDecoding().setAlignmentSearch(true);
        DvbsSignal signal(tx::DvbsRate::R34);
        for (int block = 0; block < 1500 && rx.chain.dvbsDecoding().status().lockedPackets < 120; ++block) {
            const std::vector<int16_t> iq = signal.next(ProcessingChain::kBlockSamples);
            rx.feed(iq.data(), ProcessingChain::kBlockSamples);
        }
        EXPECT_TRUE(rx.chain.dvbsDecoding().status().settled);
        derotation = rx.chain.dvbsDecoding().status().derotation;
        a = compareLooped(rx.stream(), source);
    }
    const std::string log = GetCapturedStdout();
    EXPECT_NE(log.find("DVB-S alignment: derotate "), std::string::npos);
    // The search's turn comes on top of the slider's.
    EXPECT_EQ((derotation + (kDerotation + 64)) % 256, kDerotation);
    EXPECT_GE(a.inOrder, 90u) << log;
    EXPECT_EQ(a.inOrder, a.total);
}

// Noise and constant inputs while the controls change under the running chain
// (rates, an unknown rate, skips, the Reed–Solomon switch, a sync reset): no
// crash, no lost buffers, nothing delivered from noise.
TEST(DvbsChain, SurvivesNoiseAndControlChangesWhileRunning)
{
    CaptureStdout();
    size_t delivered = 0;
    {
        DvbsReceiver rx(0, 0);
        rx.chain.dvbsDecoding().setAlignmentSearch(true);
        std::atomic<bool> done{false};
        std::thread controls([&] {
            for (int k = 0; !done; ++k) {
                rx.chain.viterbiWorker().setDepunctureIndex(k % 7);   // 5 and 6 are unknown
                rx.chain.viterbiWorker().requestSymbolSkip();
                rx.chain.dvbsDecoding().setReedSolomonEnabled(k % 2 == 0);
                if (k % 5 == 0)
                    rx.chain.dvbsDecoding().requestSyncReset();
                (void)rx.chain.dvbsDecoding().status();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        std::mt19937 rng(12);
        std::vector<int16_t> iq(2 * ProcessingChain::kBlockSamples);
        for (int block = 0; block < 24; ++block) {
            for (auto& v : iq)
                v = block % 3 == 0 ? int16_t(rng()) : int16_t(block % 3 == 1 ? 0 : 32767);
            rx.feed(iq.data(), ProcessingChain::kBlockSamples);
        }
        done = true;
        controls.join();
        delivered = rx.stream().size();
        EXPECT_LE(rx.chain.pool().allocatedCount(), 1) << "every buffer came back";
    }
    const std::string log = GetCapturedStdout();
    EXPECT_NE(log.find("Unknown FEC!!!\n"), std::string::npos);
    EXPECT_EQ(delivered, 0u);
}
