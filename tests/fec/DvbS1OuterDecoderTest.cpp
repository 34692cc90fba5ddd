#include "fec/DvbS1OuterDecoder.h"
#include "tests/TestSupport.h"
#include "tests/fec/DvbsAlignmentRig.h"
#include "tx/DvbsTransmitter.h"
#include "tx/ReedSolomon.h"

#include <gtest/gtest.h>

#include <iostream>

#include <algorithm>
#include <random>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// Numbered packets, each kept as sent.
struct NumberedSource : NumberedTsSource {
    std::vector<std::vector<uint8_t>> sent;
    bool nextPacket(uint8_t* p) override
    {
        NumberedTsSource::nextPacket(p);
        sent.emplace_back(p, p + 188);
        return true;
    }
};

// The bytes entering the inner coder for `packets` packets.
std::vector<uint8_t> outerCoded(NumberedSource& source, int packets)
{
    tx::DvbsTransmitter transmitter(tx::DvbsRate::R12, source);
    std::vector<uint8_t> stream;
    std::vector<tx::cf32> symbols;
    for (int p = 0; p < packets; ++p) {
        symbols.clear();
        transmitter.nextPacket(symbols);
        stream.insert(stream.end(), transmitter.lastInterleaved().begin(), transmitter.lastInterleaved().end());
    }
    return stream;
}

// `bytes` shifted right by `offset` bits (leading bits random).
std::vector<uint8_t> shiftBits(const std::vector<uint8_t>& bytes, int offset, uint32_t lead)
{
    std::vector<uint8_t> out(bytes.size() + 1);
    unsigned carry = lead & ((1u << offset) - 1);
    for (size_t k = 0; k < bytes.size(); ++k) {
        out[k] = uint8_t((carry << (8 - offset)) | (bytes[k] >> offset));
        carry = bytes[k] & ((1u << offset) - 1);
    }
    out.back() = uint8_t(carry << (8 - offset));
    return out;
}

struct Collector {
    std::vector<std::vector<uint8_t>> packets;
    std::vector<uint64_t> refusedSoFar;   // the decoder's count as each packet left
    DvbS1OuterDecoder decoder{[this](const uint8_t* p, size_t n) {
        packets.emplace_back(p, p + n);
        refusedSoFar.push_back(decoder.uncorrectableWords());
    }};
    // The decoder's events written out as the chain's log says them, so
    // that the checks below read the order and the counts in one place.
    Collector()
    {
        decoder.setEvents({[] { std::cout << "SYNC_LOCKING\n"; },
                           [](size_t bits) { std::cout << "Reed Solomon corrected " << bits << " errors.\n"; }});
    }
};

// Index in `sent` of the first delivered packet that matches one, or -1; the
// delivered ones from there on must follow in order.
long firstMatch(const std::vector<std::vector<uint8_t>>& delivered, const std::vector<std::vector<uint8_t>>& sent,
                size_t& from)
{
    for (from = 0; from < delivered.size(); ++from) {
        const auto it = std::find(sent.begin(), sent.end(), delivered[from]);
        if (it != sent.end())
            return long(it - sent.begin());
    }
    return -1;
}

// A raw stream of 204-byte cells whose first byte is given, the rest zero:
// the sync search alone, without the deinterleaver mattering.
std::vector<uint8_t> syncCells(const std::vector<uint8_t>& syncs)
{
    std::vector<uint8_t> s;
    for (uint8_t b : syncs) {
        s.push_back(b);
        s.insert(s.end(), 203, 0x00);
    }
    return s;
}

} // namespace

// The coded stream at every bit offset: found, deinterleaved, decoded and
// descrambled into the packets that were sent, in order, after the eleven
// packets the deinterleaver still fills.
TEST(DvbS1OuterDecoder, FindsPacketsAtAnyBitOffset)
{
    for (int offset = 0; offset < 8; ++offset) {
        NumberedSource source;
        const std::vector<uint8_t> coded = outerCoded(source, 120);
        const std::vector<uint8_t> stream = offset ? shiftBits(coded, offset, 0x5A) : coded;
        Collector c;
        CaptureStdout();
        c.decoder.processBytes(stream.data(), 1000);   // blocks of any size
        c.decoder.processBytes(stream.data() + 1000, stream.size() - 1000);
        const std::string log = GetCapturedStdout();
        EXPECT_EQ(log, "SYNC_LOCKING\n") << "offset " << offset;
        EXPECT_EQ(c.decoder.syncState(), DvbS1OuterDecoder::Locked);
        EXPECT_EQ(c.decoder.syncConfidence(), 32);
        size_t from = 0;
        const long first = firstMatch(c.packets, source.sent, from);
        ASSERT_GE(first, 0) << "offset " << offset;
        EXPECT_EQ(from, 11u) << "the first eleven come out of FIFOs holding older bytes";
        ASSERT_GT(c.packets.size() - from, 90u);
        for (size_t k = from; k < c.packets.size(); ++k)
            ASSERT_EQ(c.packets[k], source.sent[size_t(first) + k - from]) << "offset " << offset << " packet " << k;
        EXPECT_EQ(first % 8, 0) << "delivery starts with a group's first packet, sent with 0xB8";
    }
}

// Byte errors in the received stream: each word comes back corrected, and the
// number of corrected bits among its data bytes is logged; with the decoder
// switched off the damage passes through and nothing is logged.
TEST(DvbS1OuterDecoder, CorrectsWordsAndCountsTheBits)
{
    for (bool enabled : {true, false}) {
        NumberedSource source;
        std::vector<uint8_t> stream = outerCoded(source, 100);
        // After lock (packet 20 on), one random byte of every 204 gets one
        // flipped bit: the deinterleaver spreads them, about one per word.
        std::mt19937 rng(8);
        for (size_t k = 20 * 204; k < stream.size(); k += 204)
            stream[k + 1 + rng() % 203] ^= 0x10;
        Collector c;
        c.decoder.setReedSolomonEnabled(enabled);
        CaptureStdout();
        c.decoder.processBytes(stream.data(), stream.size());
        const std::string log = GetCapturedStdout();
        size_t from = 0;
        const long first = firstMatch(c.packets, source.sent, from);
        ASSERT_GE(first, 0);
        size_t damaged = 0;
        for (size_t k = from; k < c.packets.size(); ++k) {
            if (enabled)
                ASSERT_EQ(c.packets[k], source.sent[size_t(first) + k - from]) << k;
            else
                damaged += c.packets[k] != source.sent[size_t(first) + k - from];
        }
        if (enabled) {
            EXPECT_NE(log.find("Reed Solomon corrected 1 errors.\n"), std::string::npos);
        } else {
            EXPECT_EQ(log.find("Reed Solomon"), std::string::npos);
            EXPECT_GT(damaged, 30u);
        }
    }
}

// More than eight byte errors in one word: handed on as received, with the
// transport error indicator set, and nothing logged for it.
TEST(DvbS1OuterDecoder, AnUncorrectableWordIsMarkedNotDropped)
{
    NumberedSource source;
    std::vector<uint8_t> stream = outerCoded(source, 80);
    // Find a word to ruin: the deinterleaver takes the 204 bytes of one word
    // from 12 branches; damaging 12 consecutive received bytes in each of 10
    // packets reaches one word 10 times.
    for (int p = 40; p < 52; ++p)
        for (int k = 1; k < 13; ++k)
            stream[size_t(p * 204 + k)] ^= 0xFF;
    Collector c;
    CaptureStdout();
    c.decoder.processBytes(stream.data(), stream.size());
    const std::string log = GetCapturedStdout();
    EXPECT_GT(c.decoder.uncorrectableWords(), 0u);
    size_t marked = 0, whole = 0;
    size_t from = 0;
    const long first = firstMatch(c.packets, source.sent, from);
    ASSERT_GE(first, 0);
    for (size_t k = from; k < c.packets.size(); ++k) {
        ASSERT_EQ(c.packets[k].size(), 188u);
        const std::vector<uint8_t>& sent = source.sent[size_t(first) + k - from];
        const bool refused = c.refusedSoFar[k] > c.refusedSoFar[k - 1];
        ASSERT_EQ((c.packets[k][1] & 0x80) != 0, refused) << "packet " << k;
        if (refused) {
            ++marked;
            // As received, uncorrected: the sync byte is there, and the
            // received damage (all bits of over eight bytes) too.
            EXPECT_EQ(c.packets[k][0], 0x47);
            size_t ruined = 0;
            for (size_t b = 2; b < 188; ++b)
                ruined += c.packets[k][b] == uint8_t(~sent[b]);
            EXPECT_GE(ruined, 8u) << "packet " << k;
        } else {
            whole += c.packets[k] == sent;
        }
    }
    EXPECT_GE(marked, 1u);
    EXPECT_EQ(whole + marked, c.packets.size() - from) << "every other packet comes through whole";
    EXPECT_EQ(log.find("uncorrect"), std::string::npos);
}

TEST(DvbS1OuterDecoder, SyncSearchAndConfidenceRules)
{
    // Eight sync bytes 204 bytes apart: "SYNC_LOCKING" once, waiting.
    {
        Collector c;
        const std::vector<uint8_t> s = syncCells({0x47, 0x47, 0x47, 0x47, 0x47, 0x47, 0x47, 0x47, 0x47, 0x47});
        CaptureStdout();
        c.decoder.processBytes(s.data(), 7 * 204 + 1);
        EXPECT_EQ(c.decoder.syncState(), DvbS1OuterDecoder::Waiting);
        EXPECT_EQ(c.decoder.syncConfidence(), 8);
        c.decoder.processBytes(s.data() + 7 * 204 + 1, s.size() - 7 * 204 - 1);
        EXPECT_EQ(GetCapturedStdout(), "SYNC_LOCKING\n");
        EXPECT_EQ(c.decoder.syncState(), DvbS1OuterDecoder::Waiting) << "only 0xB8 locks";
        EXPECT_TRUE(c.packets.empty());
    }
    // A wrong byte at a confirming boundary: back to hunting.
    {
        Collector c;
        const std::vector<uint8_t> s = syncCells({0xB8, 0x47, 0x47, 0x12});
        c.decoder.processBytes(s.data(), 3 * 204);
        EXPECT_EQ(c.decoder.syncState(), DvbS1OuterDecoder::Confirming);
        EXPECT_EQ(c.decoder.syncConfidence(), 3);
        c.decoder.processBytes(s.data() + 3 * 204, 1);
        EXPECT_EQ(c.decoder.syncState(), DvbS1OuterDecoder::Hunting);
    }
    // Locked, then missing syncs: 24, 16, 8, 0, hunting; one match in between
    // adds 1.
    {
        Collector c;
        std::vector<uint8_t> syncs(8, 0x47);
        syncs.push_back(0xB8);   // lock
        for (uint8_t b : {0x47, 0x00, 0x47, 0x00, 0x00, 0x00, 0x00, 0x00})
            syncs.push_back(b);
        std::vector<uint8_t> s = syncCells(syncs);
        s.push_back(0x00);
        CaptureStdout();
        c.decoder.processBytes(s.data(), 8 * 204 + 1);
        EXPECT_EQ(c.decoder.syncState(), DvbS1OuterDecoder::Locked);
        EXPECT_EQ(c.decoder.syncConfidence(), 32);
        c.decoder.processBytes(s.data() + 8 * 204 + 1, 203);
        const uint16_t expected[] = {32, 24, 25, 17, 9, 1};
        for (int k = 0; k < 6; ++k) {
            c.decoder.processBytes(s.data() + (9 + k) * 204, 1);
            EXPECT_EQ(c.decoder.syncConfidence(), expected[k]) << k;
            c.decoder.processBytes(s.data() + (9 + k) * 204 + 1, 203);
        }
        EXPECT_EQ(c.decoder.syncState(), DvbS1OuterDecoder::Locked);
        c.decoder.processBytes(s.data() + 15 * 204, 1);
        EXPECT_EQ(c.decoder.syncState(), DvbS1OuterDecoder::Hunting);
        GetCapturedStdout();
        // A packet at every locked boundary, the one that lost the lock too.
        EXPECT_EQ(c.packets.size(), 7u);
    }
    // resetSync() goes back to hunting.
    {
        Collector c;
        const std::vector<uint8_t> s = syncCells({0x47, 0x47});
        c.decoder.processBytes(s.data(), 300);
        EXPECT_EQ(c.decoder.syncState(), DvbS1OuterDecoder::Confirming);
        c.decoder.resetSync();
        c.decoder.processBytes(s.data() + 300, 0);
        EXPECT_EQ(c.decoder.syncState(), DvbS1OuterDecoder::Hunting);
    }
}

// Noise, all zeros and all ones: nothing found, nothing delivered, no crash.
TEST(DvbS1OuterDecoder, NoiseAndConstantStreamsDeliverNothing)
{
    const std::vector<uint8_t> noise = testsupport::randomBytes(200000, 4);
    for (const std::vector<uint8_t>& s :
         {noise, std::vector<uint8_t>(100000, 0x00), std::vector<uint8_t>(100000, 0xFF)}) {
        Collector c;
        CaptureStdout();
        c.decoder.processBytes(s.data(), s.size());
        EXPECT_EQ(GetCapturedStdout(), "");
        EXPECT_TRUE(c.packets.empty());
        EXPECT_NE(c.decoder.syncState(), DvbS1OuterDecoder::Locked);
    }
}

// Uncorrectable words that include the sync byte, or Reed–Solomon switched
// off over damaged bytes: every packet still starts with 0x47, and a packet
// whose sync byte arrived wrong is marked damaged.
TEST(DvbS1OuterDecoder, EveryPacketLeavesWithItsSyncByte)
{
    for (bool rs : {true, false}) {
        SCOPED_TRACE(rs);
        NumberedSource source;
        std::vector<uint8_t> stream = outerCoded(source, 120);
        std::mt19937 rng(4);
        // After the lock: bursts over whole packets, sync positions included
        // but never the sync bytes of eight packets in a row (the lock holds).
        for (int p = 40; p < 100; p += 10)
            for (int k = 0; k < 204; k += 2)
                stream[size_t(p * 204 + k)] ^= uint8_t(rng() | 1);
        Collector c;
        c.decoder.setReedSolomonEnabled(rs);
        CaptureStdout();
        c.decoder.processBytes(stream.data(), stream.size());
        GetCapturedStdout();
        ASSERT_GT(c.packets.size(), 60u);
        size_t marked = 0;
        for (size_t k = 0; k < c.packets.size(); ++k) {
            EXPECT_EQ(c.packets[k][0], 0x47) << "packet " << k;
            marked += (c.packets[k][1] & 0x80) != 0;
        }
        EXPECT_GE(marked, rs ? 1u : 6u) << "the damaged sync bytes at least";
    }
}
