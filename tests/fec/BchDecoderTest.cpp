#include <cstddef>

#include "fec/BbDescrambleTable.h"
#include "fec/BchDecoder.h"
#include "fec/Dvbs2BchCodes.h"
#include "tx/BchEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr int kCodes = 21;

std::vector<uint8_t> randomCodeword(const tx::BchEncoder& encoder, std::mt19937& rng)
{
    std::vector<uint8_t> word(size_t(encoder.nbch() / 8));
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < encoder.kbch() / 8; ++i)
        word[size_t(i)] = uint8_t(byte(rng));
    encoder.encode(word.data(), word.data());
    return word;
}

// `count` distinct bit positions; the first bit, the last bit and one parity
// bit are among them whenever count allows.
std::vector<int> errorPositions(int count, int nbch, int kbch, std::mt19937& rng)
{
    std::set<int> chosen;
    const int forced[3] = {0, nbch - 1, kbch + int(rng() % unsigned(nbch - kbch))};
    for (int i = 0; i < 3 && int(chosen.size()) < count; ++i)
        chosen.insert(forced[i]);
    std::uniform_int_distribution<int> any(0, nbch - 1);
    while (int(chosen.size()) < count)
        chosen.insert(any(rng));
    return {chosen.begin(), chosen.end()};
}

void flip(std::vector<uint8_t>& frame, const std::vector<int>& positions)
{
    for (const int i : positions)
        frame[size_t(i / 8)] ^= uint8_t(0x80 >> (i % 8));
}

// The frame as the LDPC stage hands it on: XORed with the descrambling sequence.
void applyPattern(std::vector<uint8_t>& frame)
{
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] ^= kBbScrambleTable[i];
}

class BchDecoderCodes : public ::testing::TestWithParam<int> {};

TEST_P(BchDecoderCodes, CorrectsUpToTErrorsAnywhere)
{
    const int index = GetParam();
    const tx::BchEncoder encoder(index);
    const BchDecoder decoder(index, kBbScrambleTable.data());
    ASSERT_EQ(decoder.nbch(), encoder.nbch());
    ASSERT_EQ(decoder.t(), kDvbs2BchCodes[index].t);
    std::mt19937 rng(1000u + unsigned(index));
    const int t = decoder.t();
    for (const int errors : {0, 1, 2, 3, t / 2, t - 1, t}) {
        std::vector<uint8_t> sent = randomCodeword(encoder, rng);
        applyPattern(sent);
        std::vector<uint8_t> fast = sent;
        flip(fast, errorPositions(errors, decoder.nbch(), decoder.kbch(), rng));
        std::vector<uint8_t> reference = fast;
        EXPECT_EQ(decoder.decode(fast.data()), errors) << "errors " << errors;
        EXPECT_EQ(fast, sent) << "errors " << errors;
        EXPECT_EQ(decoder.decodeReference(reference.data()), errors) << "errors " << errors;
        EXPECT_EQ(reference, sent) << "errors " << errors;
    }
}

TEST_P(BchDecoderCodes, BeyondTFailsOrLandsOnAnotherCodeword)
{
    const int index = GetParam();
    const tx::BchEncoder encoder(index);
    const BchDecoder decoder(index, kBbScrambleTable.data());
    std::mt19937 rng(2000u + unsigned(index));
    const int t = decoder.t();
    int failures = 0;
    int trials = 0;
    for (const int errors : {t + 1, t + 2, t + 5, 3 * t}) {
        for (int rep = 0; rep < 2; ++rep) {
            std::vector<uint8_t> sent = randomCodeword(encoder, rng);
            applyPattern(sent);
            std::vector<uint8_t> frame = sent;
            flip(frame, errorPositions(errors, decoder.nbch(), decoder.kbch(), rng));
            const std::vector<uint8_t> received = frame;
            const int result = decoder.decode(frame.data());
            ++trials;
            if (result == BchDecoder::kFailed) {
                ++failures;
                EXPECT_EQ(frame, received) << "a failed frame is left as it came";
                continue;
            }
            // A claimed correction must end on a codeword, at most t bits away.
            EXPECT_LE(result, t);
            EXPECT_NE(frame, sent);
            std::vector<uint16_t> s(size_t(2 * t));
            EXPECT_TRUE(decoder.syndromesReference(frame.data(), s.data()));
        }
    }
    // Miscorrection beyond t is rare for these codes: nearly every trial fails.
    EXPECT_GE(failures, trials - 1);
}

INSTANTIATE_TEST_SUITE_P(AllCodes, BchDecoderCodes, ::testing::Range(0, kCodes),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(kDvbs2BchCodes[info.param].table);
                         });

// The fast syndromes (byte-wise remainder, then evaluated) against Horner's
// rule over every bit, on arbitrary frames; and the whole decoder against
// the reference one on frames of t and t + 1 errors.
TEST(BchDecoder, FastMatchesReferenceOnRandomInput)
{
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const int index : {0, 5, 9, 10, 11, 20}) {
        const BchDecoder decoder(index, kBbScrambleTable.data());
        const BchDecoder plain(index);
        const int t = decoder.t();
        std::vector<uint8_t> frame(size_t(decoder.nbch() / 8));
        for (auto& b : frame)
            b = uint8_t(byte(rng));
        std::vector<uint16_t> fast(size_t(2 * t)), reference(size_t(2 * t));
        for (const BchDecoder* d : {&decoder, &plain}) {
            EXPECT_FALSE(d->syndromes(frame.data(), fast.data()));
            EXPECT_FALSE(d->syndromesReference(frame.data(), reference.data()));
            EXPECT_EQ(fast, reference) << "code " << index;
        }

        const tx::BchEncoder encoder(index);
        for (const int errors : {t, t + 1}) {
            std::vector<uint8_t> a = randomCodeword(encoder, rng);
            flip(a, errorPositions(errors, decoder.nbch(), decoder.kbch(), rng));
            std::vector<uint8_t> b = a;
            EXPECT_EQ(plain.decode(a.data()), plain.decodeReference(b.data())) << "code " << index;
            EXPECT_EQ(a, b);
        }
    }
}

TEST(BchDecoder, CodewordsHaveZeroSyndromesAndDecodeClean)
{
    // Without a pattern the codewords are taken as they are; with the
    // pattern, a frame that is not XORed with it is not clean.
    std::mt19937 rng(5);
    for (const int index : {3, 14}) {
        const tx::BchEncoder encoder(index);
        const BchDecoder plain(index);
        const BchDecoder patterned(index, kBbScrambleTable.data());
        const std::vector<uint8_t> word = randomCodeword(encoder, rng);
        std::vector<uint16_t> s(size_t(2 * plain.t()));
        EXPECT_TRUE(plain.syndromes(word.data(), s.data()));
        EXPECT_TRUE(plain.syndromesReference(word.data(), s.data()));
        EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](uint16_t v) { return v == 0; }));
        std::vector<uint8_t> copy = word;
        EXPECT_EQ(plain.decode(copy.data()), 0);
        EXPECT_EQ(copy, word);
        EXPECT_FALSE(patterned.syndromes(word.data(), s.data()));
        const std::vector<uint8_t> zeros(word.size(), 0);
        copy = zeros;
        EXPECT_EQ(plain.decode(copy.data()), 0) << "the all-zero word is a codeword";
        EXPECT_EQ(patterned.decode(copy.data()), BchDecoder::kFailed) << "zeros are far from any pattern codeword";
        EXPECT_EQ(copy, zeros);
    }
}

// Every code, many frames, every error count 0 … t + 2.
TEST(BchDecoderLong, SweepAllCodes)
{
    std::mt19937 rng(31337);
    for (int index = 0; index < kCodes; ++index) {
        const tx::BchEncoder encoder(index);
        const BchDecoder decoder(index, kBbScrambleTable.data());
        const int t = decoder.t();
        int beyondOk = 0;
        for (int rep = 0; rep < 20; ++rep) {
            for (int errors = 0; errors <= t + 2; ++errors) {
                std::vector<uint8_t> sent = randomCodeword(encoder, rng);
                applyPattern(sent);
                std::vector<uint8_t> frame = sent;
                flip(frame, errorPositions(errors, decoder.nbch(), decoder.kbch(), rng));
                const int result = decoder.decode(frame.data());
                if (errors <= t) {
                    ASSERT_EQ(result, errors) << kDvbs2BchCodes[index].table;
                    ASSERT_EQ(frame, sent);
                } else if (result != BchDecoder::kFailed) {
                    ++beyondOk;
                    std::vector<uint16_t> s(size_t(2 * t));
                    EXPECT_TRUE(decoder.syndromesReference(frame.data(), s.data()));
                }
            }
        }
        EXPECT_LE(beyondOk, 2) << kDvbs2BchCodes[index].table;
    }
}

} // namespace
