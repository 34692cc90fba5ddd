// The forward error correction stages: LDPC and BCH codewords checked against
// the codes' definitions, Reed–Solomon syndromes, the Forney interleaver's
// delays and the scramblers' sequences.
#include "fec/Dvbs2BchCodes.h"
#include "fec/Dvbs2LdpcTables.h"
#include "tests/TestSupport.h"
#include "tx/BbScrambler.h"
#include "tx/BchEncoder.h"
#include "tx/ConvInterleaver.h"
#include "tx/LdpcEncoder.h"
#include "tx/ReedSolomon.h"

#include <gtest/gtest.h>

#include <random>

using namespace tx;

namespace {

using testsupport::randomBytes;

int bitAt(const std::vector<uint8_t>& bytes, size_t i)
{
    return bytes[i / 8] >> (7 - i % 8) & 1;
}

class EveryCode : public testing::TestWithParam<int> {};

// H·c = 0 over every check of the code, and one flipped bit breaks it.
TEST_P(EveryCode, LdpcCodewordSatisfiesEveryParityCheck)
{
    const int index = GetParam();
    SCOPED_TRACE("code " + std::string(kDvbs2BchCodes[index].table) + ", seed " + std::to_string(index));
    LdpcEncoder encoder(index);
    const int n = encoder.n(), k = encoder.k();
    std::vector<uint8_t> word = randomBytes(size_t(n / 8), uint32_t(index));
    encoder.encode(word.data(), word.data());
    const std::vector<std::vector<int>> checks = LdpcEncoder::checkNodes(index);
    ASSERT_EQ(int(checks.size()), n - k);

    auto failing = [&](const std::vector<uint8_t>& c) {
        int bad = 0;
        for (size_t j = 0; j < checks.size(); ++j) {
            int sum = bitAt(c, size_t(k) + j) ^ (j > 0 ? bitAt(c, size_t(k) + j - 1) : 0);
            for (int bit : checks[j])
                sum ^= bitAt(c, size_t(bit));
            bad += sum;
        }
        return bad;
    };
    EXPECT_EQ(failing(word), 0);
    word[size_t(k / 8) / 2] ^= 0x10; // an information bit
    EXPECT_GT(failing(word), 0);
}

// The Tanner graph has the size and check degree the table type states.
TEST_P(EveryCode, TableTypeDescribesItsGraph)
{
    const int index = GetParam();
    const std::vector<std::vector<int>> checks = LdpcEncoder::checkNodes(index);
    long edges = 0;
    size_t maxDegree = 0;
    for (const auto& c : checks) {
        edges += long(c.size());
        maxDegree = std::max(maxDegree, c.size());
    }
    const long links = edges + 2 * long(checks.size()) - 1;
    const int n = kDvbs2BchCodes[index].nldpc;
    const int k = kDvbs2BchCodes[index].nbch;
    auto expect = [&](auto table) {
        using T = decltype(table);
        EXPECT_EQ(T::N, n);
        EXPECT_EQ(T::K, k);
        EXPECT_EQ(T::links, links);
        EXPECT_EQ(T::maxCheckDegree, int(maxDegree) + 2);
        int rows = 0;
        for (int g = 0; g < T::groupCount; ++g)
            rows += T::groupRowCounts[g];
        EXPECT_EQ(rows * 360, T::K);
    };
    switch (index) {
    case 0: expect(DVB_S2_TABLE_B1{}); break;
    case 1: expect(DVB_S2_TABLE_B2{}); break;
    case 2: expect(DVB_S2_TABLE_B3{}); break;
    case 3: expect(DVB_S2_TABLE_B4{}); break;
    case 4: expect(DVB_S2_TABLE_B5{}); break;
    case 5: expect(DVB_S2_TABLE_B6{}); break;
    case 6: expect(DVB_S2_TABLE_B7{}); break;
    case 7: expect(DVB_S2_TABLE_B8{}); break;
    case 8: expect(DVB_S2_TABLE_B9{}); break;
    case 9: expect(DVB_S2_TABLE_B10{}); break;
    case 10: expect(DVB_S2_TABLE_B11{}); break;
    case 11: expect(DVB_S2_TABLE_C1{}); break;
    case 12: expect(DVB_S2_TABLE_C2{}); break;
    case 13: expect(DVB_S2_TABLE_C3{}); break;
    case 14: expect(DVB_S2_TABLE_C4{}); break;
    case 15: expect(DVB_S2_TABLE_C5{}); break;
    case 16: expect(DVB_S2_TABLE_C6{}); break;
    case 17: expect(DVB_S2_TABLE_C7{}); break;
    case 18: expect(DVB_S2_TABLE_C8{}); break;
    case 19: expect(DVB_S2_TABLE_C9{}); break;
    case 20: expect(DVB_S2_TABLE_C10{}); break;
    default: FAIL() << "no table " << index;
    }
}

// c(x) mod g(x) = 0, by long division of the whole codeword.
TEST_P(EveryCode, BchCodewordIsDivisibleByItsGenerator)
{
    const int index = GetParam();
    BchEncoder bch(index);
    const std::vector<uint8_t>& g = bch.generator();
    ASSERT_EQ(int(g.size()) - 1, bch.nbch() - bch.kbch());
    ASSERT_EQ(g.front(), 1);
    ASSERT_EQ(g.back(), 1);
    std::vector<uint8_t> word = randomBytes(size_t(bch.nbch() / 8), 100u + uint32_t(index));
    bch.encode(word.data(), word.data());

    auto remainderIsZero = [&](const std::vector<uint8_t>& c) {
        // Bit i of the codeword is the coefficient of x^(nbch − 1 − i).
        std::vector<uint8_t> r(size_t(bch.nbch()));
        for (size_t i = 0; i < r.size(); ++i)
            r[i] = uint8_t(bitAt(c, i));
        const size_t degree = g.size() - 1;
        for (size_t i = 0; i + degree < r.size(); ++i)
            if (r[i])
                for (size_t j = 0; j <= degree; ++j)
                    r[i + j] ^= g[degree - j];
        for (size_t i = r.size() - degree; i < r.size(); ++i)
            if (r[i])
                return false;
        return true;
    };
    EXPECT_TRUE(remainderIsZero(word));
    word[3] ^= 0x01;
    EXPECT_FALSE(remainderIsZero(word));
}

INSTANTIATE_TEST_SUITE_P(Dvbs2, EveryCode, testing::Range(0, 21), [](const testing::TestParamInfo<int>& info) {
    return std::string(kDvbs2BchCodes[info.param].table);
});

TEST(BbScrambler, SequenceStartsAsTheStandardGivesIt)
{
    BbScrambler s;
    const uint8_t expected[8] = {0x03, 0xF6, 0x08, 0x34, 0x30, 0xB8, 0xA3, 0x93};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(s.sequence()[size_t(i)], expected[i]) << "byte " << i;
    // Applying it twice restores the frame.
    std::vector<uint8_t> frame = randomBytes(4026, 7);
    const std::vector<uint8_t> original = frame;
    s.apply(frame.data(), int(frame.size()));
    EXPECT_NE(frame, original);
    s.apply(frame.data(), int(frame.size()));
    EXPECT_EQ(frame, original);
}

TEST(ReedSolomon, CodewordsHaveZeroSyndromesAndErrorsShow)
{
    ReedSolomon rs;
    for (uint32_t seed = 0; seed < 20; ++seed) {
        std::vector<uint8_t> word = randomBytes(204, seed);
        rs.encode(word.data(), word.data());
        for (uint8_t s : rs.syndromes(word.data()))
            ASSERT_EQ(s, 0) << "seed " << seed;
        word[seed * 10] ^= uint8_t(1 + seed);
        int nonZero = 0;
        for (uint8_t s : rs.syndromes(word.data()))
            nonZero += s != 0;
        EXPECT_EQ(nonZero, 16) << "a single error shows in every syndrome, seed " << seed;
    }
}

TEST(ReedSolomon, FieldIsGeneratedByItsPrimitivePolynomial)
{
    ReedSolomon rs;
    EXPECT_EQ(rs.alphaPower(8), 0x1D); // α^8 = α^4 + α^3 + α^2 + 1
    EXPECT_EQ(rs.alphaPower(255), 1);
    for (int i = 1; i < 255; ++i)
        ASSERT_NE(rs.alphaPower(i), 1) << "α has order 255";
    EXPECT_EQ(rs.mul(rs.alphaPower(100), rs.alphaPower(200)), rs.alphaPower(45));
}

// Byte n goes through branch n mod 12 and leaves 17 · 12 · j byte periods later.
TEST(ConvInterleaver, EachBranchDelaysByItsDepth)
{
    ConvInterleaver interleaver;
    const int total = 12 * 17 * 12 * 3;
    std::vector<uint8_t> in(static_cast<size_t>(total), 0), out(static_cast<size_t>(total));
    for (int j = 0; j < 12; ++j)
        in[size_t(12 * 5 + j)] = uint8_t(0x10 + j); // one marker per branch
    interleaver.process(in.data(), out.data(), 100);
    interleaver.process(in.data() + 100, out.data() + 100, total - 100); // across calls
    for (int j = 0; j < 12; ++j) {
        const int expectedAt = 12 * 5 + j + 17 * 12 * j;
        EXPECT_EQ(out[size_t(expectedAt)], 0x10 + j) << "branch " << j;
        EXPECT_EQ(std::count(out.begin(), out.end(), uint8_t(0x10 + j)), 1) << "branch " << j;
    }
}

} // namespace
