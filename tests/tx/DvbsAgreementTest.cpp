// The DVB-S chain against an independent transmitter's vectors: outer coding
// (energy dispersal + RS, then interleaving) and the QPSK symbols of 1/2 and 7/8.
#include "TxTestData.h"

#include "tx/DvbsTransmitter.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tx;

namespace {

TEST(DvbsAgreement, OuterCodingMatchesByteForByte)
{
    const std::vector<uint8_t> rs = readTxData("s1_outer_rs_packets.bin");
    const std::vector<uint8_t> interleaved = readTxData("s1_outer_interleaved.bin");
    ASSERT_EQ(rs.size(), 24u * 204);
    TsFileSource ts(txDataPath("agreement.ts"), false);
    DvbsTransmitter tx(DvbsRate::R12, ts);
    std::vector<cf32> symbols;
    for (int p = 0; p < 24; ++p) {
        SCOPED_TRACE("packet " + std::to_string(p));
        ASSERT_TRUE(tx.nextPacket(symbols));
        EXPECT_EQ(0, std::memcmp(tx.lastRsPacket().data(), rs.data() + 204 * p, 204));
        EXPECT_EQ(0, std::memcmp(tx.lastInterleaved().data(), interleaved.data() + 204 * p, 204));
    }
    EXPECT_EQ(rs[0], 0xB8); // the group's first sync byte, inverted
}

class DvbsSymbols : public testing::TestWithParam<const char*> {};

TEST_P(DvbsSymbols, QpskSymbolsMatch)
{
    const std::string rateName = GetParam();
    DvbsRate rate;
    ASSERT_TRUE(dvbsRateFromName(rateName, rate));
    const std::string file = rateName == "1/2" ? "s1_qpsk12_symbols.cf32" : "s1_qpsk78_symbols.cf32";
    const std::vector<cf32> expected = readTxSymbols(file);
    ASSERT_EQ(expected.size(), 20000u);

    TsFileSource ts(txDataPath("agreement.ts"), false);
    DvbsTransmitter tx(rate, ts);
    std::vector<cf32> symbols;
    while (symbols.size() < expected.size())
        ASSERT_TRUE(tx.nextPacket(symbols));
    int mismatches = 0;
    size_t first = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        if (std::abs(symbols[i] - expected[i]) > 1e-6f && mismatches++ == 0)
            first = i;
    EXPECT_EQ(mismatches, 0) << "first differing symbol " << first;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DvbsSymbols, testing::Values("1/2", "7/8"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).replace(1, 1, "_");
                         });

} // namespace
