#include "stream/BbFrameProcessor.h"
#include "stream/TsBlockAssembler.h"
#include "tx/Dvbs2Transmitter.h"
#include "tx/TsBbFramer.h"
#include "tx/TsSource.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// The BBFRAMEs of the bundled recording, as the LDPC stage hands them over
// (BB-descrambled), give back its transport stream packet for packet.
TEST(BbFrameProcessor, TransportStreamComesBackFromTheFrames)
{
    const std::string dir = TAVIREL_TEST_DATA;
    tx::TsFileSource ts(dir + "/dvbs2_qpsk12_normal_pilots.ts", false);
    tx::TsBbFramer framer(ts, tx::RollOff::R035);
    tx::Dvbs2Config config;
    config.modcods = {4};
    config.pilots = true;
    tx::Dvbs2Transmitter transmitter(config, framer);

    std::vector<uint8_t> out;
    TsBlockAssembler assembler([&out](const uint8_t* b, size_t n) { out.insert(out.end(), b, b + n); });
    std::vector<float> rollOffs;
    std::string log;
    BbFrameProcessor processor({[&](float r) { rollOffs.push_back(r); },
                                [&](const BbHeaderFields& h, int32_t r) { log += bbHeaderLine(h, r) + "\n"; },
                                [&](const uint8_t* b, size_t n, bool start) {
                                    if (start)
                                        assembler.emitTransportStream(b, n, true);
                                    else
                                        assembler.continuePacket(b, n);
                                },
                                [&]() { assembler.resynchronise(); }, nullptr, nullptr});
    for (int f = 0; f < 24; ++f) {
        std::vector<tx::cf32> symbols;
        transmitter.nextFrame(symbols);
        std::vector<uint8_t> frame = transmitter.lastBbframe();
        frame.resize(64800 / 8);
        processor.processBBFrame(frame.data(), frame.size(), 30);
    }

    std::ifstream in(dir + "/dvbs2_qpsk12_normal_pilots.ts", std::ios::binary);
    const std::vector<uint8_t> expected(std::istreambuf_iterator<char>(in), {});
    // 24 frames × 4016 bytes carry 512 whole packets: 73 blocks of seven.
    ASSERT_EQ(out.size(), 73u * 1316);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), expected.begin()));
    EXPECT_EQ(rollOffs, std::vector<float>(24, 0.35f));
    EXPECT_EQ(log.find("BBHEADER TYPE: TRANSPORT , SIS, CCM, ISSYI: 0, NPD: 0, RO: 0.35, ISI:   0, UPL: 0x05e0, "
                       "DFL: 0x7d80, SYNC: 0x47, SYNCD: 0x0000, CRC: 0x"),
              0u)
        << log.substr(0, 200);
    EXPECT_NE(log.find(" | LDPC [OK]  2/32\n"), std::string::npos);
}

TEST(BbFrameProcessor, StatusLineAndRollOffReport)
{
    uint8_t header[10] = {0xF3, 7, 0x05, 0xE0, 0xE3, 0x00, 0x47, 0x02, 0x20, 0xAB};
    const BbHeaderFields h = parseBbHeader(header);
    EXPECT_EQ(bbHeaderLine(h, -1),
              "BBHEADER TYPE: TRANSPORT , SIS, CCM, ISSYI: 0, NPD: 0, RO: ????, ISI:   7, UPL: 0x05e0, DFL: 0xe300, "
              "SYNC: 0x47, SYNCD: 0x0220, CRC: 0xab | LDPC [  ] 32/32");
    EXPECT_NE(bbHeaderLine(h, 32).find("| LDPC [OK]  0/32"), std::string::npos);
    EXPECT_NE(bbHeaderLine(h, 38, 50).find("| LDPC [OK] 12/50"), std::string::npos) << "a decoder of 50 passes";
    EXPECT_NE(bbHeaderLine(h, -1, 50).find("| LDPC [  ] 50/50"), std::string::npos);

    std::vector<float> reported;
    std::vector<uint8_t> gseField;
    BbFrameProcessor processor({[&](float r) { reported.push_back(r); }, nullptr, nullptr, nullptr,
                                [&](const uint8_t* d, uint16_t dfl) { gseField.assign(d, d + dfl / 8); }, nullptr});
    std::vector<uint8_t> frame(8100, 0);
    std::copy(header, header + 10, frame.begin());
    CaptureStdout();
    processor.processBBFrame(frame.data(), frame.size(), -1);   // failed: no report
    processor.processBBFrame(frame.data(), frame.size(), 3);
    // A continuous stream: its data field goes to GSE, unless DFL is too large.
    frame[0] = 0x72;                                   // TS/GS 01, SIS, CCM, RO 0.20
    frame[4] = 0x00;
    frame[5] = 0x80;                                   // DFL 128 bits
    processor.processBBFrame(frame.data(), frame.size(), 10);
    frame[4] = 0xE3;
    frame[5] = 0x01;                                   // DFL 58113
    processor.processBBFrame(frame.data(), frame.size(), 10);
    GetCapturedStdout();
    EXPECT_EQ(reported, std::vector<float>({0.0f, 0.20f, 0.20f}));
    EXPECT_EQ(gseField.size(), 16u);
}

TEST(BbFrameProcessor, FramesThatAreNotTransportStreamsGiveNoPackets)
{
    int calls = 0;
    BbFrameProcessor processor({nullptr, nullptr, [&](const uint8_t*, size_t, bool) { ++calls; }, nullptr, nullptr, nullptr});
    std::vector<uint8_t> frame(8100, 0);
    const uint8_t good[10] = {0xF0, 0, 0x05, 0xE0, 0x7D, 0x80, 0x47, 0x00, 0x00, 0};
    CaptureStdout();
    for (int variant = 0; variant < 5; ++variant) {
        std::copy(good, good + 10, frame.begin());
        switch (variant) {
        case 0: frame[6] = 0x46; break;                    // SYNC
        case 1: frame[3] = 0xE1; break;                    // UPL
        case 2: frame[7] = 0xFF; frame[8] = 0xFF; break;   // SYNCD: no packet starts
        case 3: frame[5] = 0x81; break;                    // DFL not whole bytes
        case 4: frame[4] = 0xFF; break;                    // data field past the buffer
        }
        processor.processBBFrame(frame.data(), frame.size(), 1);
    }
    processor.processBBFrame(frame.data(), 5, 1);          // shorter than a header
    GetCapturedStdout();
    EXPECT_EQ(calls, 0);
}

namespace {

// The bundled recording's BBFRAMEs as the LDPC stage hands them over.
std::vector<std::vector<uint8_t>> recordingFrames(int count)
{
    tx::TsFileSource ts(std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts", false);
    tx::TsBbFramer framer(ts, tx::RollOff::R035);
    tx::Dvbs2Config config;
    config.modcods = {4};
    config.pilots = true;
    tx::Dvbs2Transmitter transmitter(config, framer);
    std::vector<std::vector<uint8_t>> frames;
    for (int f = 0; f < count; ++f) {
        std::vector<tx::cf32> symbols;
        transmitter.nextFrame(symbols);
        frames.push_back(transmitter.lastBbframe());
        frames.back().resize(64800 / 8);
    }
    return frames;
}

// The frames through a processor and an assembler: the packets that come out.
struct StreamOut {
    std::vector<uint8_t> bytes;
    TsBlockAssembler assembler{[this](const uint8_t* b, size_t n) { bytes.insert(bytes.end(), b, b + n); }};
    BbFrameProcessor processor{{nullptr, nullptr,
                                [this](const uint8_t* b, size_t n, bool start) {
                                    if (start)
                                        assembler.emitTransportStream(b, n, true);
                                    else
                                        assembler.continuePacket(b, n);
                                },
                                [this]() { assembler.resynchronise(); }, nullptr, nullptr}};
};

// Every packet of `out` is a packet of `sent`, or marked damaged.
void expectOnlySentOrMarkedPackets(const std::vector<uint8_t>& out, const std::vector<uint8_t>& sent, size_t& damaged)
{
    damaged = 0;
    for (size_t k = 0; k + 188 <= out.size(); k += 188) {
        ASSERT_EQ(out[k], 0x47) << "packet " << k / 188;
        if (out[k + 1] & 0x80) {
            ++damaged;
            continue;
        }
        bool found = false;
        for (size_t s = 0; s + 188 <= sent.size() && !found; s += 188)
            found = std::equal(out.begin() + long(k), out.begin() + long(k + 188), sent.begin() + long(s)) ||
                    (s == 0 && std::equal(out.begin() + long(k + 1), out.begin() + long(k + 188), sent.begin() + 1));
        EXPECT_TRUE(found) << "packet " << k / 188 << " is no packet that was sent";
    }
}

} // namespace

// Frames lost between decoded ones (told or not), failed frames with intact
// and with broken headers: no packet comes out that does not start where a
// real packet started, and every packet is one that was sent or is marked.
TEST(BbFrameProcessor, LostAndFailedFramesNeverMisalignPackets)
{
    const auto frames = recordingFrames(24);
    std::ifstream in(std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts", std::ios::binary);
    const std::vector<uint8_t> sent(std::istreambuf_iterator<char>(in), {});

    for (int variant = 0; variant < 4; ++variant) {
        SCOPED_TRACE(variant);
        StreamOut out;
        CaptureStdout();
        for (int f = 0; f < 24; ++f) {
            std::vector<uint8_t> frame = frames[size_t(f)];
            bool afterGap = false;
            int32_t result = 20;
            switch (variant) {
            case 0:   // frames 5 and 6 lost, the next one told
                if (f == 5 || f == 6)
                    continue;
                afterGap = f == 7;
                break;
            case 1:   // frame 5 lost and nobody noticed: the lengths do not fit
                if (f == 5)
                    continue;
                break;
            case 2:   // frame 5 failed, its header intact
                if (f == 5) {
                    result = -1;
                    for (size_t k = 100; k < frame.size(); k += 97)
                        frame[k] ^= 0x24;
                }
                break;
            case 3:   // frame 5 failed with its header broken
                if (f == 5) {
                    result = -1;
                    frame[7] ^= 0x10;   // SYNCD
                }
                break;
            }
            out.processor.processBBFrame(frame.data(), frame.size(), result, afterGap);
        }
        GetCapturedStdout();
        size_t damaged = 0;
        expectOnlySentOrMarkedPackets(out.bytes, sent, damaged);
        // 24 frames carry 512 packets, of which whole blocks of 7 come out; a
        // lost frame costs its 21 or 22 packets and the one begun before it.
        // A failed frame's packets are all there, marked, the one it
        // completes is dropped.
        const size_t packets = out.bytes.size() / 188;
        switch (variant) {
        case 0: EXPECT_GE(packets, 462u); EXPECT_EQ(damaged, 0u); break;
        case 1: EXPECT_GE(packets, 483u); EXPECT_EQ(damaged, 0u); break;
        case 2: EXPECT_GE(packets, 504u); EXPECT_EQ(damaged, 22u); break;
        case 3: EXPECT_GE(packets, 483u); EXPECT_EQ(damaged, 0u); break;
        }
    }
}

// A frame that decoded (as far as LDPC can tell) with wrong bytes in it: each
// packet carries the CRC-8 of the one before in its sync byte, so the packets
// hit are marked with the transport error indicator and counted, also one
// whose check lies in the next frame; every other packet comes out as sent.
TEST(BbFrameProcessor, PacketsFailingTheirCrcAreMarked)
{
    const auto frames = recordingFrames(24);
    std::ifstream in(std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts", std::ios::binary);
    const std::vector<uint8_t> sent(std::istreambuf_iterator<char>(in), {});

    StreamOut out;
    CaptureStdout();
    for (int f = 0; f < 24; ++f) {
        std::vector<uint8_t> frame = frames[size_t(f)];
        const BbHeaderFields h = parseBbHeader(frame.data());
        const size_t field = 10, firstStart = field + h.syncd / 8, end = field + h.dfl / 8;
        if (f == 3)
            frame[firstStart + 5 * 188 + 50] ^= 0x01;   // inside a packet of this frame
        if (f == 8)
            frame[end - 3] ^= 0x40;   // in the packet that the next frame completes
        out.processor.processBBFrame(frame.data(), frame.size(), 20);
    }
    out.processor.flush();
    GetCapturedStdout();

    EXPECT_EQ(out.processor.packetCrcFailures(), 2u);
    EXPECT_EQ(out.processor.packetsFromFailedFrames(), 0u);
    size_t marked = 0;
    for (size_t k = 0; k + 188 <= out.bytes.size(); k += 188) {
        const uint8_t* packet = out.bytes.data() + k;
        ASSERT_EQ(packet[0], 0x47);
        const uint8_t* original = sent.data() + k;
        if (packet[1] & 0x80) {
            ++marked;
            // The packet as received: the bytes hit differ, nothing else but
            // the indicator.
            size_t differing = 0;
            for (size_t b = 2; b < 188; ++b)
                differing += packet[b] != original[b];
            EXPECT_EQ(differing + size_t((packet[1] & 0x7F) != (original[1] & 0x7F)), 1u) << "packet " << k / 188;
        } else {
            EXPECT_TRUE(std::equal(packet + 1, packet + 188, original + 1)) << "packet " << k / 188;
        }
    }
    EXPECT_EQ(marked, 2u);
    EXPECT_GE(out.bytes.size() / 188, 511u) << "every packet is handed on, the last one by flush()";
}

// Multiple input streams, their frames taking turns: the first stream seen
// passes packet for packet (its packets split across its own frames with the
// other's between them) while the other is counted; once the other is chosen
// it passes from its next frame on, packet for packet.
TEST(BbFrameProcessor, OneOfMultipleInputStreamsPasses)
{
    const std::string dir = TAVIREL_TEST_DATA;
    const std::string nameA = dir + "/dvbs2_qpsk12_normal_pilots.ts", nameB = dir + "/dvbs2_8psk23_normal_pilots.ts";
    tx::TsFileSource a(nameA, false), b(nameB, false);
    tx::TsBbFramer framerA(a, tx::RollOff::R035, 5), framerB(b, tx::RollOff::R035, 9);
    tx::MisBbFramer framer({&framerA, &framerB});
    tx::Dvbs2Config config;
    config.modcods = {4};
    tx::Dvbs2Transmitter transmitter(config, framer);

    std::vector<uint8_t> out;
    std::vector<int> passed;
    std::string log;
    BbFrameProcessor::Hooks hooks;
    hooks.header = [&](const BbHeaderFields& h, int32_t r) { log += bbHeaderLine(h, r) + "\n"; };
    hooks.transportStream = [&](const uint8_t* bytes, size_t n, bool start) {
        ASSERT_TRUE(start && n == 188) << "whole packets";
        out.insert(out.end(), bytes, bytes + n);
    };
    hooks.inputStream = [&](int isi) { passed.push_back(isi); };
    BbFrameProcessor processor(hooks);
    auto send = [&](int frames) {
        for (int f = 0; f < frames; ++f) {
            std::vector<tx::cf32> symbols;
            transmitter.nextFrame(symbols);
            std::vector<uint8_t> frame = transmitter.lastBbframe();
            frame.resize(64800 / 8);
            processor.processBBFrame(frame.data(), frame.size(), 20);
        }
    };
    EXPECT_EQ(processor.inputStream(), -1);
    send(8);
    EXPECT_EQ(processor.inputStream(), 5) << "the first stream seen";
    const std::vector<BbFrameProcessor::InputStream> seen = processor.inputStreams();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].isi, 5);
    EXPECT_EQ(seen[1].isi, 9);
    EXPECT_EQ(seen[0].frames, 4u);
    EXPECT_EQ(seen[1].frames, 4u);
    EXPECT_EQ(seen[1].packets, 4u * 4016 / 188 + 1) << "the packets begun in the other stream's frames";
    EXPECT_NE(log.find("TRANSPORT , MIS, CCM, ISSYI: 0, NPD: 0, RO: 0.35, ISI:   9,"), std::string::npos);

    std::ifstream inA(nameA, std::ios::binary), inB(nameB, std::ios::binary);
    const std::vector<uint8_t> sentA(std::istreambuf_iterator<char>(inA), {});
    const std::vector<uint8_t> sentB(std::istreambuf_iterator<char>(inB), {});
    ASSERT_GE(out.size(), 4u * 4016 - 188);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), sentA.begin())) << "stream A from its start, nothing of B";

    processor.selectInputStream(9);
    send(8);
    processor.flush();
    EXPECT_EQ(passed, std::vector<int>({5, 9}));
    // A's packets up to the switch, then B's from its next frame on.
    size_t fromA = 0;
    while (fromA + 188 <= out.size() && std::equal(out.begin() + long(fromA), out.begin() + long(fromA + 188),
                                                  sentA.begin() + long(fromA)))
        fromA += 188;
    const std::vector<uint8_t> fromB(out.begin() + long(fromA), out.end());
    EXPECT_GE(fromB.size() / 188, 4u * 4016 / 188 - 1) << "four frames of B, less the packet begun before the switch";
    size_t bStart = 0;
    while (bStart + 188 <= sentB.size() && !std::equal(fromB.begin(), fromB.begin() + 188, sentB.begin() + long(bStart)))
        bStart += 188;
    ASSERT_LT(bStart, sentB.size()) << "the first packet after the switch is B's";
    EXPECT_TRUE(std::equal(fromB.begin(), fromB.end(), sentB.begin() + long(bStart))) << "B's packets in order";
}

// Left to choose, the processor passes the first stream seen, and another
// once that one has gone (another signal tuned); chosen, it keeps the choice.
TEST(BbFrameProcessor, AnInputStreamGoneGivesWayUnlessChosen)
{
    tx::TsFileSource a(std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts", true);
    tx::TsFileSource b(std::string(TAVIREL_TEST_DATA) + "/dvbs2_8psk23_normal_pilots.ts", true);
    tx::TsBbFramer framerA(a, tx::RollOff::R035, 5), framerB(b, tx::RollOff::R035, 9);
    std::vector<uint8_t> frame(64800 / 8);
    for (const int chosen : {-1, 5}) {
        BbFrameProcessor processor(BbFrameProcessor::Hooks{});
        processor.selectInputStream(chosen);
        for (int f = 0; f < 3; ++f) {
            ASSERT_TRUE(framerA.build(32208, true, frame.data()));
            processor.processBBFrame(frame.data(), frame.size(), 20);
        }
        for (int f = 0; f <= BbFrameProcessor::kStreamGoneFrames; ++f) {
            EXPECT_EQ(processor.inputStream(), 5) << f;
            ASSERT_TRUE(framerB.build(32208, true, frame.data()));
            processor.processBBFrame(frame.data(), frame.size(), 20);
        }
        EXPECT_EQ(processor.inputStream(), chosen < 0 ? 9 : 5) << "chosen " << chosen;
    }
}
