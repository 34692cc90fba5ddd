#include "ChainReception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <mutex>
#include <thread>

namespace testsupport {

namespace {

// The built-in source's counter packets: PID 0x0100 for the first service,
// a 64-bit big-endian counter, then (counter + i) & 0xFF for i = 8 … 183.
constexpr uint16_t kCounterPid = 0x0100;

void checkPacket(const uint8_t* p, ChainReception& r, uint64_t& last, bool& any)
{
    if ((p[1] & 0x80) != 0) {
        ++r.flaggedPackets;
        return;
    }
    const uint16_t pid = uint16_t(((p[1] & 0x1F) << 8) | p[2]);
    if (pid != kCounterPid)
        return;
    ++r.packets;
    uint64_t counter = 0;
    for (int i = 0; i < 8; ++i)
        counter = (counter << 8) | p[4 + i];
    bool intact = p[0] == 0x47;
    for (int i = 8; i < 184 && intact; ++i)
        intact = p[4 + i] == uint8_t((counter + uint64_t(i)) & 0xFF);
    if (!intact) {
        ++r.damagedPackets;
        return;
    }
    if (any && counter != last + 1) {
        ++r.counterSteps;
        if (counter > last)
            r.missedPackets += counter - last - 1;
    }
    last = counter;
    any = true;
}

} // namespace

namespace {

double rmsOf(const std::vector<tx::cf32>& samples)
{
    double power = 0;
    for (const tx::cf32& s : samples)
        power += double(std::norm(s));
    return samples.empty() ? 0.0 : std::sqrt(power / double(samples.size()));
}

// Runs a chain on the chunks `next` yields (false: no more).
ChainReception run(const std::function<bool(std::vector<tx::cf32>&)>& next, double rms,
                   const ReceiverSettings& settings, const std::function<void(ProcessingChain&)>& during)
{
    ChainReception r;
    const double scale = rms > 0 ? 0.3 * 32768.0 / rms : 1.0;

    testing::internal::CaptureStdout();
    ProcessingChain chain;
    chain.createLdpcWorkers(2);
    applyReceiverSettings(chain, settings);
    std::mutex mutex;
    bool anyDecoded = false;
    chain.setFrameResultObserver([&](const FrameTag& tag) {
        const bool receiving = chain.receiving();
        std::lock_guard<std::mutex> lock(mutex);
        r.results.push_back(tag.result);
        if (tag.result >= 0) {
            ++r.decoded;
            if (anyDecoded && !receiving)
                ++r.decodedWhileNotReceiving;
            anyDecoded = true;
        } else {
            ++r.failed;
            if (anyDecoded)
                ++r.failedAfterFirst;
        }
    });
    uint64_t lastCounter = 0;
    bool anyCounter = false;
    std::vector<uint8_t> pending;   // a packet split across blocks
    chain.setTransportStreamObserver([&](const uint8_t* bytes, size_t length) {
        std::lock_guard<std::mutex> lock(mutex);
        pending.insert(pending.end(), bytes, bytes + length);
        size_t k = 0;
        for (; k + 188 <= pending.size(); k += 188)
            checkPacket(&pending[k], r, lastCounter, anyCounter);
        pending.erase(pending.begin(), pending.begin() + long(k));
    });
    chain.start();
    std::vector<tx::cf32> samples;
    std::vector<int16_t> block;
    constexpr size_t kChunk = 8192;
    while (next(samples)) {
        for (size_t at = 0; at < samples.size(); at += kChunk) {
            const size_t n = std::min(kChunk, samples.size() - at);
            block.resize(2 * n);
            for (size_t k = 0; k < n; ++k) {
                block[2 * k] = int16_t(std::lround(std::clamp(double(samples[at + k].real()) * scale, -32768.0, 32767.0)));
                block[2 * k + 1] =
                    int16_t(std::lround(std::clamp(double(samples[at + k].imag()) * scale, -32768.0, 32767.0)));
            }
            // As a file input does: the chain is not let fall behind.
            while (!chain.readyForInput())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            chain.blockCallback()(block.data(), n);
            if (during)
                during(chain);
        }
        samples.clear();
    }
    chain.flushPartialBlock();
    chain.waitIdle(std::chrono::seconds(60));
    r.carrierOffsetHz = chain.carrierOffset() * double(settings.sampleRate);
    r.receivingAtEnd = chain.receiving();
    r.inputStreamAtEnd = chain.inputStream();
    r.droppedBlocks = chain.droppedBlocks();
    chain.stop();
    testing::internal::GetCapturedStdout();
    return r;
}

} // namespace

ChainReception receive(const tx::TxSettings& transmitter, int frames, const ReceiverSettings& settings,
                       const std::function<void(ProcessingChain&)>& during)
{
    tx::SignalGenerator generator(transmitter);
    if (!generator.error().empty())
        return {};
    std::vector<tx::cf32> first;
    int made = 0;
    for (; made < std::min(frames, 10); ++made)
        generator.nextUnit(first);
    const double rms = rmsOf(first);
    bool firstGiven = false;
    return run(
        [&](std::vector<tx::cf32>& out) {
            if (!firstGiven) {
                out.swap(first);
                firstGiven = true;
                return true;
            }
            if (made >= frames)
                return false;
            for (int k = 0; k < 10 && made < frames; ++k, ++made)
                generator.nextUnit(out);
            return true;
        },
        rms, settings, during);
}

} // namespace testsupport
