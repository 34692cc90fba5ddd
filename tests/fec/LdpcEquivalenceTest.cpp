// The fast decoder (SSE4.1, and AVX2 where the processor has it) against the
// reference: same bytes, same result, on random noisy frames of every code
// from hopeless to clean channels.
#include "FecTestFrames.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

using namespace fectest;

namespace {

struct Tally {
    int failed = 0;
    int clean = 0;   // result 32
    int worked = 0;  // result 0 … 31
    int exhausted = 0; // result 0: the 32nd pass made the checks hold
};

// Sanitizer builds run about ten times slower; there the default run keeps
// one channel (the long sweep covers both).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Decodes `frames` frames per SNR offset and channel with both decoders.
Tally compareOnCode(int index, const std::vector<double>& offsets, int frames, uint32_t seed, bool bothChannels)
{
    std::mt19937 rng(seed + uint32_t(index));
    TestDecoder decoder(index);
    const int n = frameBits(index);
    Tally tally;
    std::vector<LdpcDecoder::Isa> isas{LdpcDecoder::Isa::Sse41};
    if (LdpcDecoder::bestIsa() == LdpcDecoder::Isa::Avx2)
        isas.push_back(LdpcDecoder::Isa::Avx2);
    std::vector<uint8_t> fastOut(size_t(n / 8) + 16), refOut(size_t(n / 8) + 16);
    for (Channel channel : {Channel::Qpsk, Channel::Psk8}) {
        if (channel == Channel::Psk8 && !bothChannels)
            continue;
        for (double offset : offsets) {
            const double esN0 = qpskThresholdDb(index) + offset + (channel == Channel::Psk8 ? 1.0 : 0.0);
            for (int f = 0; f < frames; ++f) {
                const EncodedFrame frame = encodeRandomFrame(index, rng);
                const std::vector<int8_t> soft = softValues(frame.codeword, n, esN0, channel, rng);
                std::fill(refOut.begin(), refOut.end(), 0x11);
                const int reference = decoder->decodeReference(soft.data(), refOut.data());
                for (LdpcDecoder::Isa isa : isas) {
                    std::fill(fastOut.begin(), fastOut.end(), 0x11);
                    const int fast = decoder->decodeFast(soft.data(), fastOut.data(), isa);
                    EXPECT_EQ(fast, reference) << "code " << index << " Es/N0 " << esN0 << " frame " << f
                                               << " isa " << int(isa);
                    EXPECT_EQ(fastOut, refOut) << "code " << index << " Es/N0 " << esN0 << " frame " << f
                                               << " isa " << int(isa);
                }
                if (reference < 0)
                    ++tally.failed;
                else if (reference == 32)
                    ++tally.clean;
                else
                    ++tally.worked;
                tally.exhausted += reference == 0;
            }
        }
    }
    return tally;
}

TEST(LdpcEquivalence, FastMatchesReferenceOnEveryCode)
{
    Tally total;
    for (int index = 0; index < kLdpcCodeCount; ++index) {
        const Tally t = compareOnCode(index, {-4.0, 0.6, 1.5, 30.0}, 1, 1000, !kSanitized);
        total.failed += t.failed;
        total.clean += t.clean;
        total.worked += t.worked;
    }
    // The sweep covered failing, hard and clean frames.
    EXPECT_GT(total.failed, 10);
    EXPECT_GT(total.worked, 10);
    EXPECT_GT(total.clean, 10);
    std::printf("%d failed, %d decoded after passes, %d clean\n", total.failed, total.worked, total.clean);
}

// Thousands of frames per code (run with the "long" label).
TEST(LdpcEquivalenceLong, ThousandsOfFramesPerCode)
{
    int exhausted = 0;
    for (int index = 0; index < kLdpcCodeCount; ++index) {
        // 2 channels × 10 points × 100 frames.
        const Tally t =
            compareOnCode(index, {-3.0, -1.0, 0.0, 0.5, 1.0, 1.25, 1.5, 2.0, 3.0, 40.0}, 100, 5000, true);
        std::printf("code %2d: %4d failed, %4d decoded after passes, %4d clean, %d needed all 32 passes\n", index,
                    t.failed, t.worked, t.clean, t.exhausted);
        EXPECT_GT(t.failed, 0);
        EXPECT_GT(t.worked, 0);
        exhausted += t.exhausted;
    }
    EXPECT_GT(exhausted, 0); // some frames needed every one of the 32 passes
}

} // namespace
