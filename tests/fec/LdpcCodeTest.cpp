#include "fec/LdpcCode.h"
#include "fec/LdpcDecoder.h"
#include "tx/LdpcEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace {

struct CodeParameters {
    int n, k, q;
    std::vector<std::pair<int, int>> runs; // addresses per row × rows
    int links;
    int maxCheckDegree;
};

// EN 302 307-1 Tables 5a/5b with the row structure of Annexes B and C.
const CodeParameters kCodes[kLdpcCodeCount] = {
    {64800, 16200, 135, {{12, 15}, {3, 30}}, 194399, 4},
    {64800, 21600, 120, {{12, 20}, {3, 40}}, 215999, 5},
    {64800, 25920, 108, {{12, 24}, {3, 48}}, 233279, 6},
    {64800, 32400, 90, {{8, 36}, {3, 54}}, 226799, 7},
    {64800, 38880, 72, {{12, 36}, {3, 72}}, 285119, 11},
    {64800, 43200, 60, {{13, 12}, {3, 108}}, 215999, 10},
    {64800, 48600, 45, {{12, 15}, {3, 120}}, 226799, 14},
    {64800, 51840, 36, {{11, 18}, {3, 126}}, 233279, 18},
    {64800, 54000, 30, {{13, 15}, {3, 135}}, 237599, 22},
    {64800, 57600, 20, {{4, 20}, {3, 140}}, 194399, 27},
    {64800, 58320, 18, {{4, 18}, {3, 144}}, 194399, 30},
    {16200, 3240, 36, {{12, 4}, {3, 5}}, 48599, 4},
    {16200, 5400, 30, {{12, 5}, {3, 10}}, 53999, 5},
    {16200, 6480, 27, {{12, 6}, {3, 12}}, 58319, 6},
    {16200, 7200, 25, {{8, 5}, {3, 15}}, 48599, 7},
    {16200, 9720, 18, {{12, 9}, {3, 18}}, 71279, 11},
    {16200, 10800, 15, {{13, 3}, {3, 27}}, 53999, 10},
    {16200, 11880, 12, {{12, 1}, {3, 32}}, 47519, 13},
    {16200, 12600, 10, {{3, 35}}, 44999, 13},
    {16200, 13320, 8, {{13, 1}, {3, 36}}, 49319, 19},
    {16200, 14400, 5, {{4, 5}, {3, 35}}, 48599, 27},
};

template <typename T>
void expectTableMatches(int index)
{
    const CodeParameters& p = kCodes[index];
    SCOPED_TRACE(index);
    EXPECT_EQ(T::N, p.n);
    EXPECT_EQ(T::K, p.k);
    EXPECT_EQ(T::q, p.q);
    EXPECT_EQ(T::links, p.links);
    EXPECT_EQ(T::maxCheckDegree, p.maxCheckDegree);
    ASSERT_EQ(size_t(T::groupCount), p.runs.size());
    int entries = 0;
    int rows = 0;
    for (int g = 0; g < T::groupCount; ++g) {
        EXPECT_EQ(T::groupDegrees[g], p.runs[size_t(g)].first);
        EXPECT_EQ(T::groupRowCounts[g], p.runs[size_t(g)].second);
        entries += T::groupDegrees[g] * T::groupRowCounts[g];
        rows += T::groupRowCounts[g];
    }
    EXPECT_EQ(rows, T::K / 360);
    EXPECT_EQ(entries, int(sizeof(T::addressRows) / sizeof(T::addressRows[0])));
    EXPECT_EQ(p.links, 360 * entries + 2 * (p.n - p.k) - 1);
    for (int32_t a : T::addressRows) {
        EXPECT_GE(a, 0);
        EXPECT_LT(a, T::N - T::K);
    }
}

TEST(LdpcTables, ParametersOfEveryCode)
{
    expectTableMatches<DVB_S2_TABLE_B1>(0);
    expectTableMatches<DVB_S2_TABLE_B2>(1);
    expectTableMatches<DVB_S2_TABLE_B3>(2);
    expectTableMatches<DVB_S2_TABLE_B4>(3);
    expectTableMatches<DVB_S2_TABLE_B5>(4);
    expectTableMatches<DVB_S2_TABLE_B6>(5);
    expectTableMatches<DVB_S2_TABLE_B7>(6);
    expectTableMatches<DVB_S2_TABLE_B8>(7);
    expectTableMatches<DVB_S2_TABLE_B9>(8);
    expectTableMatches<DVB_S2_TABLE_B10>(9);
    expectTableMatches<DVB_S2_TABLE_B11>(10);
    expectTableMatches<DVB_S2_TABLE_C1>(11);
    expectTableMatches<DVB_S2_TABLE_C2>(12);
    expectTableMatches<DVB_S2_TABLE_C3>(13);
    expectTableMatches<DVB_S2_TABLE_C4>(14);
    expectTableMatches<DVB_S2_TABLE_C5>(15);
    expectTableMatches<DVB_S2_TABLE_C6>(16);
    expectTableMatches<DVB_S2_TABLE_C7>(17);
    expectTableMatches<DVB_S2_TABLE_C8>(18);
    expectTableMatches<DVB_S2_TABLE_C9>(19);
    expectTableMatches<DVB_S2_TABLE_C10>(20);
}

TEST(LdpcTables, FirstRowsAsInTheStandard)
{
    const std::vector<int32_t> b1 = {23606, 36098, 1140, 28859, 18148, 18510, 6226, 540, 42014, 20879, 23802, 47088};
    const std::vector<int32_t> b4 = {54, 9318, 14392, 27561, 26909, 10219, 2534, 8597};
    const std::vector<int32_t> c1 = {6295, 9626, 304, 7695, 4839, 4936, 1660, 144, 11203, 5567, 6347, 12557};
    EXPECT_EQ(b1, std::vector<int32_t>(DVB_S2_TABLE_B1::addressRows, DVB_S2_TABLE_B1::addressRows + 12));
    EXPECT_EQ(b4, std::vector<int32_t>(DVB_S2_TABLE_B4::addressRows, DVB_S2_TABLE_B4::addressRows + 8));
    EXPECT_EQ(c1, std::vector<int32_t>(DVB_S2_TABLE_C1::addressRows, DVB_S2_TABLE_C1::addressRows + 12));
    // The walk starts on those rows.
    std::unique_ptr<LDPCInterface> code(createLdpcCode(3));
    code->rewind();
    ASSERT_EQ(code->currentDegree(), 8);
    EXPECT_EQ(b4, std::vector<int32_t>(code->currentAddresses(), code->currentAddresses() + 8));
    code->advance(); // bit 1: every address moves on by q = 90
    EXPECT_EQ(code->currentAddresses()[0], 54 + 90);
}

// The walk over every code: edge counts, equal information-edge counts per
// residue class, the maximum check degree, and the check-node lists against
// the transmitter's parity-check matrix built independently from the tables.
TEST(LdpcTables, WalkGivesTheParityCheckMatrix)
{
    for (int index = 0; index < kLdpcCodeCount; ++index) {
        SCOPED_TRACE(index);
        std::unique_ptr<LDPCInterface> code(createLdpcCode(index));
        ASSERT_NE(code, nullptr);
        const CodeParameters& p = kCodes[index];
        EXPECT_EQ(code->codewordBits(), p.n);
        EXPECT_EQ(code->infoBits(), p.k);
        EXPECT_EQ(code->circulantSize(), 360);
        EXPECT_EQ(code->edgeCount(), p.links);
        EXPECT_EQ(code->maxCheckDegree(), p.maxCheckDegree);

        const int r = p.n - p.k;
        std::vector<std::vector<int>> checks(static_cast<size_t>(r));
        code->rewind();
        int infoEdges = 0;
        for (int bit = 0; bit < p.k; ++bit) {
            const int row = bit / 360;
            int expectedDegree = 0;
            for (int g = 0, first = 0; g < int(p.runs.size()); first += p.runs[size_t(g)].second, ++g)
                if (row >= first && row < first + p.runs[size_t(g)].second)
                    expectedDegree = p.runs[size_t(g)].first;
            ASSERT_EQ(code->currentDegree(), expectedDegree) << "bit " << bit;
            for (int k = 0; k < code->currentDegree(); ++k) {
                const int32_t a = code->currentAddresses()[k];
                ASSERT_GE(a, 0);
                ASSERT_LT(a, r);
                checks[size_t(a)].push_back(bit);
                ++infoEdges;
            }
            code->advance();
        }
        EXPECT_EQ(p.links, infoEdges + 2 * r - 1);

        int widest = 0;
        for (int c = 0; c < r; ++c) {
            EXPECT_EQ(checks[size_t(c)].size(), checks[size_t(c % p.q)].size()) << "check " << c;
            widest = std::max(widest, int(checks[size_t(c)].size()));
        }
        EXPECT_EQ(widest + 2, p.maxCheckDegree);

        const std::vector<std::vector<int>> reference = tx::LdpcEncoder::checkNodes(index);
        ASSERT_EQ(reference.size(), checks.size());
        for (int c = 0; c < r; ++c) {
            std::vector<int> expected = reference[size_t(c)];
            std::sort(expected.begin(), expected.end());
            ASSERT_EQ(checks[size_t(c)], expected) << "check " << c;
        }
    }
}

TEST(LdpcTables, SingleRunCodeKeepsItsDegreeAndRewindRestarts)
{
    LDPC<DVB_S2_TABLE_C8> code;
    for (int round = 0; round < 2; ++round) {
        code.rewind();
        std::vector<int32_t> firstBit(code.currentAddresses(), code.currentAddresses() + 3);
        EXPECT_EQ(firstBit, std::vector<int32_t>(DVB_S2_TABLE_C8::addressRows, DVB_S2_TABLE_C8::addressRows + 3));
        for (int bit = 0; bit < DVB_S2_TABLE_C8::K; ++bit) {
            ASSERT_EQ(code.currentDegree(), 3) << "bit " << bit;
            code.advance(); // the K-th step must stay inside the tables (ASan)
        }
    }
}

TEST(LdpcTables, CloneIsFreshNotAContinuation)
{
    std::unique_ptr<LDPCInterface> code(createLdpcCode(5));
    code->rewind();
    for (int bit = 0; bit < 1000; ++bit)
        code->advance();
    std::unique_ptr<LDPCInterface> copy(code->clone());
    EXPECT_EQ(copy->currentDegree(), 0);
    EXPECT_EQ(copy->codewordBits(), 64800);
    EXPECT_EQ(copy->edgeCount(), code->edgeCount());
    copy->rewind();
    EXPECT_EQ(copy->currentAddresses()[0], DVB_S2_TABLE_B6::addressRows[0]);
    EXPECT_EQ(nullptr, createLdpcCode(-1));
    EXPECT_EQ(nullptr, createLdpcCode(21));
}

TEST(LdpcTables, CodeIndexForEveryTagByte)
{
    // Rate index (B.1 … B.11) of MODCODs 1 … 28.
    const int rate[29] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 4, 5, 6, 8, 9, 10, 5, 6, 7, 8, 9, 10, 6, 7, 8, 9, 10};
    for (int tag = 0; tag < 256; ++tag) {
        const int modcod = tag & 31;
        const bool shortFrame = (tag & 0x20) != 0;
        int expected = -1;
        if (modcod >= 1 && modcod <= 28)
            expected = shortFrame ? (rate[modcod] == 10 ? -1 : 11 + rate[modcod]) : rate[modcod];
        EXPECT_EQ(codeIndexForFrame(uint8_t(tag)), expected) << "tag " << tag;
    }
    EXPECT_EQ(codeIndexForFrame(0x00), -1);
    EXPECT_EQ(codeIndexForFrame(0x3d), -1);    // reserved 29, short
    EXPECT_EQ(codeIndexForFrame(0x2b), -1);    // QPSK 9/10 short
    EXPECT_EQ(codeIndexForFrame(0x31), -1);    // 8PSK 9/10 short
    EXPECT_EQ(codeIndexForFrame(0xc4), 3);     // QPSK 1/2 with bits 6 and 7
    EXPECT_EQ(codeIndexForFrame(0x2d), 16);    // 8PSK 2/3 short → C6
    EXPECT_EQ(codeIndexForFrame(0x19), 7);     // 32APSK 4/5 → B8
}

TEST(LdpcStructure, ProcessingOrderAndLaneGroups)
{
    std::unique_ptr<uint8_t[]> arena(new uint8_t[LdpcDecoder::kArenaBytes + 64]);
    uint8_t* aligned = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(arena.get()) + 63) & ~uintptr_t(63));
    for (int index = 0; index < kLdpcCodeCount; ++index) {
        SCOPED_TRACE(index);
        std::unique_ptr<LDPCInterface> code(createLdpcCode(index));
        LdpcDecoder decoder;
        ASSERT_TRUE(decoder.build(*code, aligned, LdpcDecoder::kArenaBytes));
        const int q = decoder.residues();
        EXPECT_EQ(q, kCodes[index].q);
        EXPECT_EQ(decoder.checkWidth(), kCodes[index].maxCheckDegree - 2);
        const std::vector<std::vector<int>> reference = tx::LdpcEncoder::checkNodes(index);
        for (int i = 0; i < q; ++i) {
            EXPECT_GE(decoder.infoEdges(i), 1);
            for (LdpcDecoder::Isa isa : {LdpcDecoder::Isa::Sse41, LdpcDecoder::Isa::Avx2}) {
                const int width = decoder.laneGroup(i, isa);
                const int widest = isa == LdpcDecoder::Isa::Sse41 ? 16 : 32;
                EXPECT_TRUE(width <= widest && width >= 1 && (width & (width - 1)) == 0);
                // No bit is shared by two nodes of one lane group.
                for (int j0 = 0; j0 < 360; j0 += width) {
                    std::vector<int> seen;
                    for (int j = j0; j < std::min(360, j0 + width); ++j)
                        for (int k = 0; k < decoder.infoEdges(i); ++k)
                            seen.push_back(decoder.bitsOfCheck(360 * i + j)[k]);
                    std::sort(seen.begin(), seen.end());
                    ASSERT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end())
                        << "class " << i << " group " << j0;
                }
            }
            for (int j = 0; j < 360; ++j) {
                std::vector<int> expected = reference[size_t(q * j + i)];
                std::vector<int> bits(decoder.bitsOfCheck(360 * i + j), decoder.bitsOfCheck(360 * i + j) + decoder.infoEdges(i));
                std::sort(expected.begin(), expected.end());
                std::sort(bits.begin(), bits.end());
                ASSERT_EQ(bits, expected) << "class " << i << " node " << j;
            }
        }
    }
    // Too small a block is refused rather than overrun.
    std::unique_ptr<LDPCInterface> code(createLdpcCode(4));
    LdpcDecoder decoder;
    EXPECT_FALSE(decoder.build(*code, aligned, 100000));
    EXPECT_FALSE(decoder.ready());
}

} // namespace
