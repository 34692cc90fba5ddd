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
    BbFrameProcessor processor({[&](float r) { rollOffs.push_back(r); },
                                [&](const uint8_t* b, size_t n, bool start) { assembler.emitTransportStream(b, n, start); },
                                nullptr});
    CaptureStdout();
    for (int f = 0; f < 24; ++f) {
        std::vector<tx::cf32> symbols;
        transmitter.nextFrame(symbols);
        std::vector<uint8_t> frame = transmitter.lastBbframe();
        frame.resize(64800 / 8);
        processor.processBBFrame(frame.data(), frame.size(), 30);
    }
    const std::string log = GetCapturedStdout();

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

    std::vector<float> reported;
    std::vector<uint8_t> gseField;
    BbFrameProcessor processor({[&](float r) { reported.push_back(r); }, nullptr,
                                [&](const uint8_t* d, uint16_t dfl) { gseField.assign(d, d + dfl / 8); }});
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
    BbFrameProcessor processor({nullptr, [&](const uint8_t*, size_t, bool) { ++calls; }, nullptr});
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
