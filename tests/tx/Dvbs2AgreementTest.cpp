// The DVB-S2 chain against an independent transmitter's vectors: the same TS
// and settings must give the same BBFRAMEs, FECFRAMEs and PLFRAME symbols.
#include "TxTestData.h"

#include "tx/Dvbs2Transmitter.h"
#include "tx/TsBbFramer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace tx;

namespace {

struct AgreementSet {
    const char* prefix;
    const char* modcod;
    FrameSize frame;
    bool pilots;
    RollOff rollOff;
    int frames;
};

void PrintTo(const AgreementSet& s, std::ostream* os)
{
    *os << s.prefix;
}

class Dvbs2Agreement : public testing::TestWithParam<AgreementSet> {};

TEST_P(Dvbs2Agreement, SameBbframesFecframesAndPlSymbols)
{
    const AgreementSet& set = GetParam();
    const std::string prefix = set.prefix;
    const std::vector<uint8_t> bb = readTxData(prefix + "_bbframes.bin");
    const std::vector<uint8_t> fec = readTxData(prefix + "_fecframes.bin");
    const std::vector<std::complex<float>> pl = readTxSymbols(prefix + "_plsymbols.cf32");

    TsFileSource ts(txDataPath("agreement.ts"), false);
    ASSERT_EQ(ts.error(), "");
    TsBbFramer framer(ts, set.rollOff);
    Dvbs2Config config;
    config.modcods = {modcodFromName(set.modcod)};
    config.frame = set.frame;
    config.pilots = set.pilots;
    Dvbs2Transmitter tx(config, framer);

    const size_t bbBytes = bb.size() / size_t(set.frames);
    const size_t fecBytes = fec.size() / size_t(set.frames);
    const size_t plSymbols = pl.size() / size_t(set.frames);
    std::vector<std::complex<float>> symbols;
    for (int f = 0; f < set.frames; ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        tx.nextFrame(symbols);
        ASSERT_FALSE(tx.lastWasDummy());
        ASSERT_EQ(tx.lastBbframe().size(), bbBytes);
        EXPECT_EQ(0, std::memcmp(tx.lastBbframe().data(), bb.data() + f * bbBytes, bbBytes));
        ASSERT_EQ(tx.lastFecframe().size(), fecBytes);
        // Compare the BB-scrambled data, BCH parity and LDPC parity separately.
        FecParams p;
        ASSERT_TRUE(fecParams(tx.lastModcod(), set.frame, p));
        const uint8_t* ours = tx.lastFecframe().data();
        const uint8_t* theirs = fec.data() + f * fecBytes;
        EXPECT_EQ(0, std::memcmp(ours, theirs, size_t(p.kbch / 8))) << "BB scrambling";
        EXPECT_EQ(0, std::memcmp(ours + p.kbch / 8, theirs + p.kbch / 8, size_t((p.nbch - p.kbch) / 8)))
            << "BCH parity";
        EXPECT_EQ(0, std::memcmp(ours + p.nbch / 8, theirs + p.nbch / 8, size_t((p.nldpc - p.nbch) / 8)))
            << "LDPC parity";
        ASSERT_EQ(symbols.size(), plSymbols);
        int mismatches = 0;
        size_t first = 0;
        for (size_t i = 0; i < plSymbols; ++i) {
            if (std::abs(symbols[i] - pl[f * plSymbols + i]) > 1e-6f) {
                if (mismatches++ == 0)
                    first = i;
            }
        }
        EXPECT_EQ(mismatches, 0) << "first differing symbol " << first;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, Dvbs2Agreement,
    testing::Values(AgreementSet{"s2_qpsk12_normal_pilots", "QPSK 1/2", FrameSize::Normal, true, RollOff::R035, 4},
                    AgreementSet{"s2_qpsk34_short_nopilots", "QPSK 3/4", FrameSize::Short, false, RollOff::R020, 6},
                    AgreementSet{"s2_8psk35_short_pilots", "8PSK 3/5", FrameSize::Short, true, RollOff::R025, 6},
                    AgreementSet{"s2_8psk23_normal_nopilots", "8PSK 2/3", FrameSize::Normal, false, RollOff::R035, 4}),
    [](const testing::TestParamInfo<AgreementSet>& info) { return std::string(info.param.prefix); });

} // namespace
