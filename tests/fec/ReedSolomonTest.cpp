#include "fec/ReedSolomonDecoder.h"
#include "gf/GaloisField.h"
#include "tx/ReedSolomon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

using F = gf::GF256Dvb;

// Every product and quotient against a bitwise (shift-and-add) reference.
TEST(GaloisField, ArithmeticMatchesBitwiseMultiplication)
{
    auto slow = [](unsigned a, unsigned b) {
        unsigned r = 0;
        for (; b; b >>= 1, a <<= 1) {
            if (a & 0x100)
                a ^= 0x11D;
            if (b & 1)
                r ^= a;
        }
        return uint8_t(r);
    };
    for (unsigned a = 0; a < 256; ++a) {
        for (unsigned b = 0; b < 256; ++b) {
            ASSERT_EQ(F::mul(uint8_t(a), uint8_t(b)), slow(a, b)) << a << " " << b;
            if (b != 0) {
                ASSERT_EQ(F::mul(F::div(uint8_t(a), uint8_t(b)), uint8_t(b)), a) << a << " / " << b;
            }
        }
    }
    EXPECT_EQ(F::power(0), 1);
    EXPECT_EQ(F::power(8), 0x1D);
    EXPECT_EQ(F::power(-1), F::power(254));
    std::set<uint8_t> powers;
    for (int i = 0; i < 255; ++i)
        powers.insert(F::power(i));
    EXPECT_EQ(powers.size(), 255u) << "α generates every non-zero element";
}

namespace {

struct Words {
    tx::ReedSolomon encoder;
    std::mt19937 rng{2025};

    std::vector<uint8_t> codeword()
    {
        std::vector<uint8_t> message(188), word(204);
        for (auto& b : message)
            b = uint8_t(rng());
        encoder.encode(message.data(), word.data());
        return word;
    }
    // `count` bytes at distinct random positions get a non-zero error.
    void damage(std::vector<uint8_t>& word, int count)
    {
        std::vector<int> positions(204);
        for (int i = 0; i < 204; ++i)
            positions[size_t(i)] = i;
        std::shuffle(positions.begin(), positions.end(), rng);
        for (int i = 0; i < count; ++i)
            word[size_t(positions[size_t(i)])] ^= uint8_t(1 + rng() % 255);
    }
};

} // namespace

TEST(ReedSolomonDecoder, CorrectsUpToEightByteErrorsAnywhere)
{
    Words w;
    const ReedSolomonDecoder decoder;
    for (int trial = 0; trial < 3000; ++trial) {
        const std::vector<uint8_t> sent = w.codeword();
        std::vector<uint8_t> received = sent;
        const int errors = trial % 9;
        w.damage(received, errors);
        const ReedSolomonDecoder::Result r = decoder.decode(received.data());
        ASSERT_TRUE(r.corrected) << "trial " << trial << ", " << errors << " errors";
        ASSERT_EQ(r.byteErrors, errors);
        ASSERT_EQ(received, sent) << "trial " << trial;
    }
}

// Nine errors are beyond the code: the word is refused and left as received.
// (A bounded-distance decoder may, very rarely, land on another codeword; then
// the result must at least be a codeword.)
TEST(ReedSolomonDecoder, RefusesNineErrorsAndLeavesTheWordAlone)
{
    Words w;
    const ReedSolomonDecoder decoder;
    int refused = 0;
    const int trials = 3000;
    for (int trial = 0; trial < trials; ++trial) {
        const std::vector<uint8_t> sent = w.codeword();
        std::vector<uint8_t> received = sent;
        w.damage(received, 9 + trial % 8);
        const std::vector<uint8_t> before = received;
        const ReedSolomonDecoder::Result r = decoder.decode(received.data());
        if (!r.corrected) {
            ++refused;
            ASSERT_EQ(received, before) << "a refused word is not touched";
        } else {
            const auto s = w.encoder.syndromes(received.data());
            ASSERT_TRUE(std::all_of(s.begin(), s.end(), [](uint8_t v) { return v == 0; }));
            ASSERT_NE(received, sent);
        }
    }
    EXPECT_GE(refused, trials - 3);
}

// All sixteen syndromes at once, one per byte lane, are Horner's one at a
// time: on codewords (all zero), damaged ones and random bytes, every bit of
// every lane exercised.
TEST(ReedSolomonDecoder, VectorSyndromesMatchThePlainOnes)
{
    Words w;
    std::mt19937 rng(17);
    for (int trial = 0; trial < 500; ++trial) {
        std::vector<uint8_t> word = w.codeword();
        if (trial % 3 == 1)
            w.damage(word, 1 + trial % 12);
        else if (trial % 3 == 2)
            for (uint8_t& b : word)
                b = trial == 2 ? 0xFF : uint8_t(rng());
        uint8_t plain[16], vector[16];
        rsSyndromes_ref(word.data(), plain);
        rsSyndromes_sse41(word.data(), vector);
        ASSERT_EQ(std::vector<uint8_t>(plain, plain + 16), std::vector<uint8_t>(vector, vector + 16)) << trial;
        if (trial % 3 == 0) {
            ASSERT_EQ(std::vector<uint8_t>(vector, vector + 16), std::vector<uint8_t>(16, 0)) << "a codeword";
        }
    }
}
