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

    a.emitTransportStream(junk.data(), 50, false);     // now the block starts with a sync byte
    a.emitTransportStream(p.data(), p.size(), true);   // kept, the packet follows the odd bytes
    EXPECT_EQ(a.fill(), 188u + 50 + 188);
    EXPECT_TRUE(c.blocks.empty());
}
