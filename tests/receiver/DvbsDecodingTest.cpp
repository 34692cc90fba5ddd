// The DVB-S stream layer as the chain runs it: the decoders below say what
// happened through their events, and this layer puts it into the log lines
// a person reads.
#include "receiver/DvbsDecoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// `packets` 204-byte packets of random bytes, each led by the sync byte
// (the first of every eight inverted, as the transmitter sends them).
std::vector<uint8_t> syncedPackets(int packets, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes;
    for (int p = 0; p < packets; ++p) {
        bytes.push_back(p % 8 == 0 ? 0xB8 : 0x47);
        for (int k = 1; k < 204; ++k)
            bytes.push_back(uint8_t(rng()));
    }
    return bytes;
}

} // namespace

TEST(DvbsDecoding, TheSearchAndTheSyncAreSaidInTheLog)
{
    std::vector<int> turns;
    int senseTurns = 0;
    DvbsDecoding d([](const uint8_t*, size_t) {}, [&](int v) { turns.push_back(v); }, [&] { ++senseTurns; }, [] {});
    d.setAlignmentSearch(true);
    d.setReedSolomonEnabled(false);

    // Noise for long enough that every turn and phase of rate 1/2 (period
    // two) is tried and the sense turned over.
    std::mt19937 rng(3);
    std::vector<uint8_t> noise(1 << 16);
    for (uint8_t& b : noise)
        b = uint8_t(rng());
    CaptureStdout();
    for (int k = 0; k < 16 && senseTurns == 0; ++k)
        d.decode(noise.data(), noise.size(), 2);
    std::string log = GetCapturedStdout();
    ASSERT_EQ(senseTurns, 1);
    EXPECT_NE(log.find("DVB-S alignment: derotate 0, skip 1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DVB-S alignment: derotate 64, skip 0\n"), std::string::npos) << log;
    const size_t turned = log.find("DVB-S alignment: spectrum sense turned over\n");
    ASSERT_NE(turned, std::string::npos) << log;
    EXPECT_LT(turned, log.find("DVB-S alignment: derotate 0, skip 0\n", turned)) << "said before the turn it leads to";

    // Synced packets: the outer decoder's lock is said once.
    d.setAlignmentSearch(false);
    const std::vector<uint8_t> packets = syncedPackets(64, 4);
    CaptureStdout();
    d.decode(packets.data(), packets.size(), 2);
    log = GetCapturedStdout();
    EXPECT_NE(log.find("SYNC_LOCKING\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("SYNC_LOCKING\n"), log.rfind("SYNC_LOCKING\n"));
}
