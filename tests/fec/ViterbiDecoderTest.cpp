#include "fec/ViterbiDecoder.h"
#include "fec/ViterbiWorker.h"
#include "tests/TestSupport.h"
#include "tx/ConvEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using Kernel = ViterbiDecoder::Kernel;

namespace {

using testsupport::randomBytes;

const tx::DvbsRate kRates[] = {tx::DvbsRate::R12, tx::DvbsRate::R23, tx::DvbsRate::R34, tx::DvbsRate::R56,
                               tx::DvbsRate::R78};

// The encoder's QPSK symbols (components ±0.707) as soft values, I then Q.
std::vector<int32_t> encodeSoft(tx::DvbsRate rate, const std::vector<uint8_t>& bytes, float noise = 0.0f,
                                uint32_t seed = 1)
{
    tx::ConvEncoder encoder(rate);
    std::vector<tx::cf32> symbols;
    encoder.encode(bytes.data(), int(bytes.size()), symbols);
    std::mt19937 rng(seed);
    std::normal_distribution<float> gauss(0.0f, noise);
    std::vector<int32_t> soft;
    for (const tx::cf32& s : symbols) {
        soft.push_back(ViterbiDecoder::softValue(s.real() + (noise > 0 ? gauss(rng) : 0.0f)));
        soft.push_back(ViterbiDecoder::softValue(s.imag() + (noise > 0 ? gauss(rng) : 0.0f)));
    }
    return soft;
}

int bitAt(const std::vector<uint8_t>& bytes, size_t i)
{
    return (bytes[i / 8] >> (7 - i % 8)) & 1;
}

// Decoded bits that differ from the sent ones, the decoder being 197 bits late.
size_t bitErrors(const std::vector<uint8_t>& sent, const std::vector<uint8_t>& decoded, size_t* compared = nullptr)
{
    size_t errors = 0, n = 0;
    for (size_t p = 197; p < 8 * decoded.size() && p - 197 < 8 * sent.size(); ++p, ++n)
        errors += bitAt(decoded, p) != bitAt(sent, p - 197);
    if (compared)
        *compared = n;
    return errors;
}

// The decoder with 8-bit wrap-around metrics, signed comparisons and the
// unsigned renormalisation, step for step as first designed; used where its
// metrics cannot overflow.
struct EightBitDecoder {
    int8_t metric[64] = {};
    uint64_t history[64][3] = {};
    unsigned counter = 0;
    uint64_t output = 0;

    void step(int32_t x, int32_t y, std::vector<uint8_t>& out)
    {
        static const int select[32] = {0, 1, 2, 3, 2, 3, 0, 1, 0, 1, 2, 3, 2, 3, 0, 1,
                                       3, 2, 1, 0, 1, 0, 3, 2, 3, 2, 1, 0, 1, 0, 3, 2};
        const int8_t c[4] = {int8_t(x + y), int8_t(y - x), int8_t(-x - y), int8_t(x - y)};
        int8_t next[64];
        uint64_t nextHistory[64][3];
        for (int i = 0; i < 32; ++i) {
            const int8_t bm = c[select[i]];
            for (int input = 0; input < 2; ++input) {
                const int8_t a = int8_t(metric[i] + (input ? -bm : bm));
                const int8_t b = int8_t(metric[i + 32] + (input ? bm : -bm));
                const int d = b > a;
                const int from = d ? i + 32 : i;
                next[2 * i + input] = d ? b : a;
                nextHistory[2 * i + input][2] = (history[from][2] << 1) | (history[from][1] >> 63);
                nextHistory[2 * i + input][1] = (history[from][1] << 1) | (history[from][0] >> 63);
                nextHistory[2 * i + input][0] = (history[from][0] << 1) | uint64_t(d);
            }
        }
        std::copy(next, next + 64, metric);
        std::copy(&nextHistory[0][0], &nextHistory[0][0] + 192, &history[0][0]);
        if (counter % 4 == 0) {
            uint8_t least = 255;
            for (int8_t m : metric)
                least = std::min(least, uint8_t(m));
            for (int8_t& m : metric)
                m = int8_t(uint8_t(std::max(0, int(uint8_t(m)) - int(least))));
        }
        counter = (counter + 1) % 64;
        output = (output << 1) | (history[0][2] >> 63);
        if (counter == 0)
            for (int b = 7; b >= 0; --b)
                out.push_back(uint8_t(output >> (8 * b)));
    }
};

} // namespace

// Every rate: a random stream through the encoder and back, exactly, 197 bits
// late; both kernels.
TEST(ViterbiDecoder, CleanStreamsComeBackExactlyAtEveryRate)
{
    const std::vector<uint8_t> sent = randomBytes(3000, 7);
    for (Kernel kernel : {Kernel::Reference, Kernel::Vector}) {
        for (int r = 0; r < 5; ++r) {
            const std::vector<int32_t> soft = encodeSoft(kRates[r], sent);
            ViterbiDecoder decoder(kernel);
            decoder.setRateType(r);
            std::vector<uint8_t> decoded;
            decoder.decodeSoft(soft.data(), soft.size(), decoded);
            size_t compared = 0;
            EXPECT_EQ(bitErrors(sent, decoded, &compared), 0u) << "rate " << r;
            EXPECT_GT(compared, 8u * 2900) << "rate " << r;
            // The first 191 bits out are 0.
            for (size_t p = 0; p < 191; ++p)
                ASSERT_EQ(bitAt(decoded, p), 0) << p;
        }
    }
}

TEST(ViterbiDecoder, SoftValuesOfFiveAndAllZeroInput)
{
    // ±0.707 gives ±5.
    EXPECT_EQ(ViterbiDecoder::softValue(0.707f), 5);
    EXPECT_EQ(ViterbiDecoder::softValue(-0.707f), -5);
    EXPECT_EQ(ViterbiDecoder::softValue(-0.12f), 0) << "truncated toward zero";
    EXPECT_EQ(ViterbiDecoder::softValue(1e30f), 127);
    EXPECT_EQ(ViterbiDecoder::softValue(-std::numeric_limits<float>::infinity()), -127);
    EXPECT_EQ(ViterbiDecoder::softValue(std::numeric_limits<float>::quiet_NaN()), 0);

    ViterbiDecoder decoder;
    std::vector<int32_t> plus(2 * 64 * 20, 5);
    std::vector<uint8_t> out;
    decoder.decodeSoft(plus.data(), plus.size(), out);
    ASSERT_EQ(out.size(), 20u * 8);
    for (uint8_t b : out)
        ASSERT_EQ(b, 0x00);
}

// Random noisy input, strong enough to make paths fight, with rate changes and
// skips between blocks: the vector kernel gives exactly the reference's bytes.
TEST(ViterbiDecoder, VectorKernelMatchesTheReferenceOnNoise)
{
    std::mt19937 rng(99);
    for (float noise : {0.3f, 0.7f, 2.0f, 20.0f}) {
        const std::vector<uint8_t> sent = randomBytes(2500, uint32_t(noise * 100));
        ViterbiDecoder reference(Kernel::Reference), vector(Kernel::Vector);
        std::vector<uint8_t> a, b;
        for (int block = 0; block < 10; ++block) {
            const int r = int(rng() % 5);
            reference.setRateType(r);
            vector.setRateType(r);
            if (rng() % 3 == 0) {
                reference.requestSkip();
                vector.requestSkip();
            }
            const std::vector<int32_t> soft =
                encodeSoft(kRates[r], std::vector<uint8_t>(sent.begin() + block * 250, sent.begin() + block * 250 + 250),
                           noise, uint32_t(block));
            const size_t cut = rng() % soft.size();   // an odd number of values now and then
            reference.decodeSoft(soft.data(), cut, a);
            vector.decodeSoft(soft.data(), cut, b);
            reference.decodeSoft(soft.data() + cut, soft.size() - cut, a);
            vector.decodeSoft(soft.data() + cut, soft.size() - cut, b);
        }
        ASSERT_GT(a.size(), 1000u);
        EXPECT_EQ(a, b) << "noise " << noise;
    }
    // Pure noise over the full soft range, all values ±127, and all zero.
    ViterbiDecoder reference(Kernel::Reference), vector(Kernel::Vector);
    std::uniform_int_distribution<int32_t> any(-300, 300);
    std::vector<int32_t> soft(200000);
    for (size_t k = 0; k < soft.size(); ++k)
        soft[k] = k < 100000 ? any(rng) : (k < 150000 ? ((rng() & 1) ? 127 : -127) : 0);
    std::vector<uint8_t> a, b;
    reference.decodeSoft(soft.data(), soft.size(), a);
    vector.decodeSoft(soft.data(), soft.size(), b);
    EXPECT_EQ(a.size(), 100000u / 64 * 8) << "one step per value pair";
    EXPECT_EQ(a, b);
}

// Where 8-bit metrics cannot overflow (soft values within ±3), the wide
// metrics decide exactly as they do, noise included.
TEST(ViterbiDecoder, WideMetricsDecideAsEightBitOnesWhereThoseHold)
{
    std::mt19937 rng(5);
    std::uniform_int_distribution<int32_t> small(-3, 3);
    const std::vector<uint8_t> sent = randomBytes(4000, 3);
    tx::ConvEncoder encoder(tx::DvbsRate::R12);
    std::vector<tx::cf32> symbols;
    encoder.encode(sent.data(), int(sent.size()), symbols);
    std::vector<int32_t> soft;
    for (const tx::cf32& s : symbols) {
        // ±2 with noise of ±1 now and then, and some random values.
        for (float v : {s.real(), s.imag()}) {
            int32_t x = v > 0 ? 2 : -2;
            if (rng() % 4 == 0)
                x += small(rng) / 3;
            if (rng() % 50 == 0)
                x = small(rng);
            soft.push_back(x);
        }
    }
    EightBitDecoder oracle;
    std::vector<uint8_t> expected;
    for (size_t k = 0; k + 1 < soft.size(); k += 2)
        oracle.step(soft[k], soft[k + 1], expected);
    ViterbiDecoder vector(Kernel::Vector);
    std::vector<uint8_t> decoded;
    vector.decodeSoft(soft.data(), soft.size(), decoded);
    EXPECT_EQ(decoded, expected);
    EXPECT_LT(bitErrors(sent, decoded), 10u) << "and it still decodes";
}

// A skip drops one soft value: a stream that starts with k stray values
// decodes once k skips have been asked for, one per block.
TEST(ViterbiDecoder, SkipsRealignTheDepuncturing)
{
    const std::vector<uint8_t> sent = randomBytes(1500, 11);
    for (int r = 0; r < 5; ++r) {
        const int period = ViterbiDecoder::periodOfRate(r);
        for (int stray = 1; stray < period; ++stray) {
            std::vector<int32_t> soft(size_t(stray), 77);
            const std::vector<int32_t> coded = encodeSoft(kRates[r], sent);
            soft.insert(soft.end(), coded.begin(), coded.end());
            ViterbiDecoder decoder;
            decoder.setRateType(r);
            std::vector<uint8_t> decoded;
            for (int k = 0; k < stray; ++k) {
                decoder.requestSkip();
                decoder.decodeSoft(soft.data() + k, 1, decoded);
            }
            decoder.decodeSoft(soft.data() + stray, soft.size() - size_t(stray), decoded);
            EXPECT_EQ(bitErrors(sent, decoded), 0u) << "rate " << r << ", " << stray << " stray values";
        }
    }
}

TEST(ViterbiDecoder, PeriodsPendingValuesAndTheSkipFlag)
{
    ViterbiDecoder decoder;
    std::vector<uint8_t> out;
    decoder.setRateType(2);   // 3/4: four values a period
    EXPECT_EQ(decoder.period(), 4);
    const std::complex<float> three[3] = {{0.7f, 0.7f}, {0.7f, -0.7f}, {-0.7f, 0.7f}};
    decoder.decodeSymbols(three, 3, out);
    EXPECT_EQ(decoder.pendingValues(), 2);

    // Two requests before the next value drop only one value.
    decoder.setRateType(0);
    decoder.requestSkip();
    decoder.requestSkip();
    const int32_t one = 5;
    decoder.decodeSoft(&one, 1, out);
    EXPECT_EQ(decoder.pendingValues(), 0);
    EXPECT_FALSE(decoder.skipPending());
    decoder.decodeSoft(&one, 1, out);
    EXPECT_EQ(decoder.pendingValues(), 1);

    // n values dropped on top of a pending press: n + 1 values.
    decoder.setRateType(1);   // 2/3: three values a period
    decoder.requestSkip();
    decoder.dropValues(3);
    const int32_t six[6] = {5, 5, 5, 5, 5, 5};
    decoder.decodeSoft(six, 3, out);
    EXPECT_TRUE(decoder.skipPending());
    EXPECT_EQ(decoder.pendingValues(), 0);
    decoder.decodeSoft(six, 3, out);
    EXPECT_FALSE(decoder.skipPending());
    EXPECT_EQ(decoder.pendingValues(), 2);
    decoder.dropValues(-2);
    EXPECT_FALSE(decoder.skipPending());

    // Rate 1/2: nothing before the 64th step, then 8 bytes.
    ViterbiDecoder fresh;
    std::vector<std::complex<float>> symbols(32, {0.7f, 0.7f});
    fresh.decodeSymbols(symbols.data(), 31, out = {});
    EXPECT_TRUE(out.empty());
    fresh.decodeSymbols(symbols.data(), 32, out);
    EXPECT_TRUE(out.empty());
    fresh.decodeSymbols(symbols.data(), 1, out);
    EXPECT_EQ(out.size(), 8u);

    // An unknown rate collects values and decodes nothing.
    ViterbiDecoder unknown;
    unknown.setRateType(9);
    EXPECT_EQ(unknown.period(), 2);
    std::vector<std::complex<float>> many(5000, {0.7f, -0.7f});
    std::vector<uint8_t> none;
    unknown.decodeSymbols(many.data(), many.size(), none);
    EXPECT_TRUE(none.empty());
}

TEST(ViterbiWorker, RateSelectionLogs)
{
    CaptureStdout();
    {
        ViterbiWorker worker([](WorkBuffer*, WorkBuffer*) {});
        worker.setDepunctureIndex(3);
        EXPECT_EQ(worker.period(), 6);
        worker.setDepunctureIndex(-1);
        EXPECT_EQ(worker.rateType(), 3) << "a negative index changes nothing";
        worker.setDepunctureIndex(7);
        EXPECT_EQ(worker.period(), 2);
        // Unknown rate: symbols in, an emptied buffer out.
        WorkBuffer in(8 * 4000), out(8 * 4000, 0xAA);
        worker.process(&in, &out);
        EXPECT_TRUE(out.empty());
    }
    EXPECT_EQ(GetCapturedStdout(), "depuncture index changed to: 3\nFEC 5/6\n"
                                   "depuncture index changed to: -1\n"
                                   "depuncture index changed to: 7\nUnknown FEC!!!\n");
}
