#include "stream/TsBlockAssembler.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> packet(uint8_t tag)
{
    std::vector<uint8_t> p(188, tag);
    p[0] = 0x47;
    return p;
}

struct Collector {
    std::vector<std::vector<uint8_t>> blocks;
    TsBlockAssembler::BlockSink sink()
    {
        return [this](const uint8_t* b, size_t n) { blocks.emplace_back(b, b + n); };
    }
};

} // namespace

TEST(TsBlockAssembler, SevenPacketsMakeOneBlock)
{
    Collector c;
    TsBlockAssembler a(c.sink());
    for (uint8_t i = 0; i < 20; ++i) {
        const auto p = packet(i);
        a.emitTransportStream(p.data(), p.size(), true);
        EXPECT_EQ(c.blocks.size(), size_t(i + 1) / 7) << int(i);
    }
    ASSERT_EQ(c.blocks.size(), 2u);
    EXPECT_EQ(a.fill(), 6u * 188) << "the partial block waits for more";
    for (size_t b = 0; b < 2; ++b)
        for (size_t k = 0; k < 7; ++k)
            EXPECT_EQ(c.blocks[b][188 * k + 1], uint8_t(7 * b + k));
}

TEST(TsBlockAssembler, AnyChunkingGivesTheSameBlocks)
{
    std::vector<uint8_t> stream;
    for (uint8_t i = 0; i < 50; ++i) {
        const auto p = packet(i);
        stream.insert(stream.end(), p.begin(), p.end());
    }
    std::mt19937 rng(3);
    Collector whole, pieces;
    TsBlockAssembler a(whole.sink()), b(pieces.sink());
    a.emitTransportStream(stream.data(), stream.size(), false);
    for (size_t at = 0; at < stream.size();) {
        const size_t n = std::min<size_t>(rng() % 3000, stream.size() - at);
        b.emitTransportStream(stream.data() + at, n, false);   // including zero-length calls
        at += n;
    }
    EXPECT_EQ(whole.blocks.size(), 7u);
    EXPECT_EQ(whole.blocks, pieces.blocks);
    EXPECT_EQ(a.fill(), 50u * 188 - 7 * 1316);

    // Exactly one block's worth: written, nothing left.
    Collector exact;
    TsBlockAssembler e(exact.sink());
    e.emitTransportStream(stream.data(), 1316, true);
    EXPECT_EQ(exact.blocks.size(), 1u);
    EXPECT_EQ(e.fill(), 0u);
}

TEST(TsBlockAssembler, PacketStartDropsAMisalignedPartialBlock)
{
    Collector c;
    TsBlockAssembler a(c.sink());
    const std::vector<uint8_t> junk(100, 0x11);
    a.emitTransportStream(junk.data(), junk.size(), false);
    const auto p = packet(5);
    a.emitTransportStream(p.data(), p.size(), true);   // junk does not start with 0x47: dropped
    EXPECT_EQ(a.fill(), 188u);

    // The block starts with a sync byte, but 50 odd bytes leave a packet
    // incomplete: a packet start drops them, the whole packet before stays.
    a.emitTransportStream(junk.data(), 50, false);
    a.emitTransportStream(p.data(), p.size(), true);
    EXPECT_EQ(a.fill(), 188u + 188);
    EXPECT_TRUE(c.blocks.empty());
}

// Continuation bytes complete the packet in progress only when they fit it
// exactly; a gap in the stream drops that packet and whatever follows up to
// the next packet start. Every block written holds whole packets.
TEST(TsBlockAssembler, OnlyWholePacketsSurviveAGap)
{
    Collector c;
    TsBlockAssembler a(c.sink());
    const auto p = packet(9);
    a.emitTransportStream(p.data(), 100, true);
    a.continuePacket(p.data() + 100, 88);              // exactly the rest
    EXPECT_EQ(a.fill(), 188u);

    a.emitTransportStream(p.data(), 100, true);
    a.continuePacket(p.data() + 100, 60);              // too short: bytes were lost
    EXPECT_EQ(a.fill(), 188u);
    a.emitTransportStream(p.data(), 100, true);
    a.continuePacket(p.data(), 120);                   // too long
    EXPECT_EQ(a.fill(), 188u);
    a.continuePacket(p.data(), 30);                    // nothing in progress
    EXPECT_EQ(a.fill(), 188u);

    a.emitTransportStream(p.data(), 150, true);
    a.resynchronise();
    EXPECT_EQ(a.fill(), 188u);
    a.emitTransportStream(p.data(), 40, false);        // still waiting for a packet start
    a.continuePacket(p.data(), 38);
    EXPECT_EQ(a.fill(), 188u);
    for (int k = 0; k < 6; ++k)
        a.emitTransportStream(p.data(), p.size(), true);
    ASSERT_EQ(c.blocks.size(), 1u);
    for (size_t k = 0; k < 7; ++k)
        EXPECT_EQ(c.blocks[0][188 * k], 0x47) << k;
    EXPECT_EQ(a.fill(), 0u);
    a.continuePacket(p.data(), 0);                     // nothing, and nothing lost
    a.emitTransportStream(p.data(), 188, false);       // a stream in pieces still flows
    EXPECT_EQ(a.fill(), 188u);
}
