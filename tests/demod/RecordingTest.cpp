// The whole chain on a recording made by an independent transmitter: samples
// in through the device callback, XFECFRAMEs out of the demodulator.
#include "receiver/ProcessingChain.h"
#include "tx/Dvbs2Transmitter.h"
#include "tx/TsBbFramer.h"
#include "tx/TsSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace {

std::vector<int8_t> readS8(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<int8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

// DVB-S2 QPSK 1/2, normal frames with pilots, 2 samples per symbol, clean:
// lock, the right PLS code, and every delivered frame's hard decisions equal
// to the codeword the recording's transport stream encodes to.
TEST(Recording, Dvbs2QpskFramesComeOutAsTransmitted)
{
    const std::string dir = TAVIREL_TEST_DATA;
    const std::vector<int8_t> samples = readS8(dir + "/dvbs2_qpsk12_normal_pilots.iq");
    ASSERT_EQ(samples.size(), 3195072u);

    testing::internal::CaptureStdout();
    ProcessingChain chain;
    chain.firWorker().designMatchedFilter(2000000, 1000000, 64, 0.35f);
    chain.resampleWorker().setTEDGain(6);
    chain.resampleWorker().setTEDDamping(15);
    chain.resampleWorker().setSymbolRate(4000000, 1000000);
    std::mutex mutex;
    std::vector<std::vector<int8_t>> frames;
    std::vector<uint8_t> codes;
    chain.setFrameObserver([&](const int8_t* frame, uint8_t pls) {
        std::lock_guard<std::mutex> lock(mutex);
        frames.emplace_back(frame, frame + 64800);
        codes.push_back(pls);
    });
    chain.start();
    for (size_t k = 0; k < samples.size(); k += 2)
        chain.sampleCallback()(int16_t(samples[k] * 256), int16_t(samples[k + 1] * 256));
    for (int k = 0; k < ProcessingChain::kBlockSamples; ++k)   // push the last block through
        chain.sampleCallback()(0, 0);
    // Drained when no buffer is held but the block being filled.
    chain.waitIdle(std::chrono::seconds(30));
    chain.stop();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("LOCKED :)\n"), std::string::npos);

    // The codewords of the same transport stream from our transmitter, which
    // agrees with the recording's transmitter frame for frame.
    tx::TsFileSource ts(dir + "/dvbs2_qpsk12_normal_pilots.ts", false);
    tx::TsBbFramer framer(ts, tx::RollOff::R035);
    tx::Dvbs2Config config;
    config.modcods = {4};
    config.pilots = true;
    tx::Dvbs2Transmitter transmitter(config, framer);
    std::vector<std::vector<uint8_t>> sent;
    for (int f = 0; f < 24; ++f) {
        std::vector<tx::cf32> symbols;
        transmitter.nextFrame(symbols);
        sent.push_back(transmitter.lastFecframe());
    }
    auto errors = [&](size_t delivered, size_t s) {
        size_t e = 0;
        for (size_t i = 0; i < 64800; ++i)
            e += (frames[delivered][i] < 0) != (((sent[s][i / 8] >> (7 - i % 8)) & 1) != 0);
        return e;
    };

    // 24 frames in the recording: the first goes to acquisition, the last has
    // no next header to complete it.
    ASSERT_EQ(frames.size(), 23u);
    // The first frame delivered was received while the gain and timing loops
    // were still settling: mostly right. Every later one is exact.
    EXPECT_LT(errors(0, 1), 64800u / 10);
    for (size_t f = 1; f < frames.size(); ++f) {
        EXPECT_EQ(codes[f], 0x44) << f;
        EXPECT_EQ(errors(f, f + 1), 0u) << "frame " << f;
    }
}

// The whole receiver: samples in, transport stream out — demodulator, LDPC
// decoders, in-order release, BBFRAMEs, TS blocks and the SDT.
TEST(Recording, Dvbs2TransportStreamComesOutWhole)
{
    const std::string dir = TAVIREL_TEST_DATA;
    const std::vector<int8_t> samples = readS8(dir + "/dvbs2_qpsk12_normal_pilots.iq");
    std::ifstream in(dir + "/dvbs2_qpsk12_normal_pilots.ts", std::ios::binary);
    const std::vector<uint8_t> expected(std::istreambuf_iterator<char>(in), {});

    testing::internal::CaptureStdout();
    ProcessingChain chain;
    chain.createLdpcWorkers(2);
    chain.firWorker().designMatchedFilter(2000000, 1000000, 64, 0.35f);
    chain.resampleWorker().setTEDGain(6);
    chain.resampleWorker().setTEDDamping(15);
    chain.resampleWorker().setSymbolRate(4000000, 1000000);
    std::mutex mutex;
    std::vector<uint8_t> ts;
    std::vector<std::string> services;
    std::vector<float> rollOffs;
    chain.setTransportStreamObserver([&](const uint8_t* b, size_t n) {
        std::lock_guard<std::mutex> lock(mutex);
        ts.insert(ts.end(), b, b + n);
    });
    chain.setServiceListObserver([&](const std::vector<std::string>& lines, const std::string&) {
        std::lock_guard<std::mutex> lock(mutex);
        services = lines;
    });
    chain.setRollOffObserver([&](float r) {
        std::lock_guard<std::mutex> lock(mutex);
        rollOffs.push_back(r);
    });
    chain.start();
    for (size_t k = 0; k < samples.size(); k += 2)
        chain.sampleCallback()(int16_t(samples[k] * 256), int16_t(samples[k + 1] * 256));
    for (int k = 0; k < ProcessingChain::kBlockSamples; ++k)
        chain.sampleCallback()(0, 0);
    chain.waitIdle(std::chrono::seconds(60));
    chain.stop();
    const std::string log = testing::internal::GetCapturedStdout();

    // 22 decoded frames of 4016 bytes: well over 400 packets, every one as sent.
    ASSERT_GE(ts.size(), 400u * 188) << log.substr(0, 2000);
    ASSERT_EQ(ts.size() % 188, 0u);
    const auto first = std::search(expected.begin(), expected.end(), ts.begin(), ts.begin() + 188);
    ASSERT_NE(first, expected.end()) << "the first packet out is not in the stream";
    const size_t start = size_t(first - expected.begin());
    ASSERT_EQ(start % 188, 0u);
    ASSERT_LE(start + ts.size(), expected.size());
    EXPECT_TRUE(std::equal(ts.begin(), ts.end(), expected.begin() + long(start)));
    EXPECT_NE(log.find("| LDPC [OK] "), std::string::npos);
    EXPECT_FALSE(rollOffs.empty());
    EXPECT_EQ(rollOffs.back(), 0.35f);
    ASSERT_EQ(services.size(), 1u);
    EXPECT_NE(services[0].find("DVBS2 QPSK12 NORMAL PILOTS"), std::string::npos) << services[0];
}

