#include "FecTestFrames.h"

#include "fec/BbDescrambleTable.h"
#include "fec/LDPCWorker.h"
#include "tx/BchEncoder.h"
#include "tx/LdpcEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

// Counts heap allocations so the tests can see that decoding a frame makes none.
namespace {
std::atomic<long> allocations{0};
}
void* operator new(size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

using namespace fectest;

namespace {

struct CleanFrames {
    std::vector<EncodedFrame> frames; // one per code index
    CleanFrames()
    {
        std::mt19937 rng(21);
        for (int index = 0; index < kLdpcCodeCount; ++index)
            frames.push_back(encodeRandomFrame(index, rng));
    }
    // A 64800-byte frame buffer of the code's noiseless soft values.
    WorkBuffer buffer(int index, double esN0 = 200.0) const
    {
        std::mt19937 rng(uint32_t(index) + 99);
        const std::vector<int8_t> soft = softValues(frames[size_t(index)].codeword, frameBits(index), esN0,
                                                    Channel::Qpsk, rng);
        WorkBuffer b(64800, 0x33);
        std::copy(soft.begin(), soft.end(), reinterpret_cast<int8_t*>(b.data()));
        return b;
    }
    // The same as noiseless APSK symbols of `plsCode` (16APSK or 32APSK).
    WorkBuffer apskBuffer(int index, uint8_t plsCode) const
    {
        std::mt19937 rng(1);
        const std::vector<int8_t> soft = demappedValues(frames[size_t(index)].codeword, plsCode, 200.0, rng, 0.79);
        WorkBuffer b(64800, 0x33);
        std::copy(soft.begin(), soft.end(), reinterpret_cast<int8_t*>(b.data()));
        return b;
    }
    std::vector<uint8_t> expected(int index) const
    {
        std::vector<uint8_t> out(frames[size_t(index)].codeword);
        for (size_t b = 0; b < out.size(); ++b)
            out[b] ^= kBbScrambleTable[b];
        return out;
    }
};

const CleanFrames& clean()
{
    static const CleanFrames frames;
    return frames;
}

WorkBuffer tagBuffer(uint8_t code)
{
    WorkBuffer buffer;
    FrameTag tag;
    tag.plsCode = code;
    tag.result = 0x55555555;
    tag.afterGap = false;
    writeFrameTag(buffer, tag);
    return buffer;
}

int32_t resultOf(const WorkBuffer& tag)
{
    return readFrameTag(tag).result;
}

TEST(LDPCWorker, DecodesAndTagsEveryTagByte)
{
    LDPCWorker worker(nullptr);
    worker.setDecoderChoice(LdpcDecoderChoice::Standard);
    EXPECT_EQ(worker.objectSize(), sizeof(LDPCWorker));
    EXPECT_EQ(worker.currentCodeIndex(), -1);
    for (int tagByte = 0; tagByte < 256; ++tagByte) {
        SCOPED_TRACE(tagByte);
        const int index = codeIndexForFrame(uint8_t(tagByte));
        const bool apsk = index >= 0 && (tagByte & 0x1F) >= 18;
        WorkBuffer frame = apsk ? clean().apskBuffer(index, uint8_t(tagByte)) : clean().buffer(index < 0 ? 3 : index);
        const WorkBuffer before = frame;
        WorkBuffer tag = tagBuffer(uint8_t(tagByte));
        worker.process(&frame, &tag);
        ASSERT_EQ(tag.size(), kFrameTagBytes);
        EXPECT_EQ(readFrameTag(tag).plsCode, tagByte);
        EXPECT_FALSE(readFrameTag(tag).afterGap) << "the chain's field is left alone";
        EXPECT_EQ(worker.currentCodeIndex(), index);
        if (index < 0) {
            EXPECT_EQ(resultOf(tag), -1);
            EXPECT_EQ(frame, before);
        } else {
            // APSK symbols are decoded as LLRs, with the scaled decoder's passes.
            EXPECT_EQ(resultOf(tag), apsk ? LdpcDecoder::scaledProfile(index).passes : 32);
            EXPECT_EQ(frame, clean().expected(index));
        }
    }
    // Every byte value switches code (or drops it) except runs of equal codes.
    EXPECT_GT(worker.rebuildCount(), 200);
}

TEST(LDPCWorker, ResultGoesIntoTheTag)
{
    LDPCWorker worker(nullptr);
    worker.setDecoderChoice(LdpcDecoderChoice::Standard);
    WorkBuffer frame = clean().buffer(3);
    frame[100] = 0; // one erased bit: one pass, 31 left
    WorkBuffer tag = tagBuffer(0x04);
    worker.process(&frame, &tag);
    EXPECT_EQ(readFrameTag(tag).result, 31);
    EXPECT_EQ(readFrameTag(tag).plsCode, 0x04);
    WorkBuffer zeros(64800, 0);
    worker.process(&zeros, &tag);
    EXPECT_EQ(readFrameTag(tag).result, -1);
    EXPECT_FALSE(readFrameTag(tag).bchFailed) << "the all-zero word passes the BCH check, but is not taken as good";
    EXPECT_EQ(zeros.size(), 8100u); // failed frames leave decided like decoded ones
    EXPECT_EQ(0, std::memcmp(zeros.data(), kBbScrambleTable.data(), 8100));
}

// LDPC codewords whose BCH words carry errors (flipped before the LDPC
// encoding): the LDPC decoder converges on them, the BCH decoder corrects up
// to t of them and fails the frame beyond.
TEST(LDPCWorker, BchCorrectsOrFailsTheDecodedWord)
{
    for (const int index : {3, 12}) {
        SCOPED_TRACE(index);
        const int t = 12;
        const int kbch = bbframeBits(index);
        tx::LdpcEncoder ldpc(index);
        LDPCWorker worker(nullptr);
        worker.setDecoderChoice(LdpcDecoderChoice::Standard);
    worker.setDecoderChoice(LdpcDecoderChoice::Standard);
        for (const int errors : {0, 1, t, t + 4}) {
            std::vector<uint8_t> codeword = clean().frames[size_t(index)].codeword;
            // Data bits, first and last among them, and BCH parity bits.
            for (int e = 0; e < errors; ++e) {
                const int bit = e == 0 ? 0 : e == 1 ? kbch + 5 : (e * 7919) % kbch;
                codeword[size_t(bit / 8)] ^= uint8_t(0x80 >> (bit % 8));
            }
            ldpc.encode(codeword.data(), codeword.data());
            std::mt19937 rng(7);
            const std::vector<int8_t> soft = softValues(codeword, frameBits(index), 200.0, Channel::Qpsk, rng);
            WorkBuffer frame(64800, 0);
            std::copy(soft.begin(), soft.end(), reinterpret_cast<int8_t*>(frame.data()));
            WorkBuffer tag = tagBuffer(tagForCode(index));
            ASSERT_EQ(codeIndexForFrame(readFrameTag(tag).plsCode), index);
            worker.process(&frame, &tag);
            const FrameTag result = readFrameTag(tag);
            if (errors <= t) {
                EXPECT_EQ(result.result, 32) << errors;
                EXPECT_FALSE(result.bchFailed);
                EXPECT_EQ(result.bchCorrected, errors);
                // The BCH word is restored; the LDPC parity stays as decided.
                const std::vector<uint8_t> expected = clean().expected(index);
                const int nbchBytes = tx::BchEncoder(index).nbch() / 8;
                EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + nbchBytes, frame.data())) << errors;
            } else {
                EXPECT_EQ(result.result, -1);
                EXPECT_TRUE(result.bchFailed);
                EXPECT_EQ(result.bchCorrected, 0);
            }
        }
    }
}

// A frame the LDPC decoder cannot make consistent (its parity bits all but
// unknown, with random signs) but whose BCH word carries few wrong bits: BCH
// corrects them and the frame counts as decoded.
TEST(LDPCWorker, BchRescuesAFrameTheLdpcDecoderLeftWrong)
{
    const int index = 3;
    const int nbch = tx::BchEncoder(index).nbch();
    LDPCWorker worker(nullptr);
    worker.setDecoderChoice(LdpcDecoderChoice::Standard);
    WorkBuffer frame = clean().buffer(index);
    std::mt19937 rng(3);
    for (int i = nbch; i < frameBits(index); ++i)
        frame[size_t(i)] = uint8_t(rng() & 1 ? 1 : -1);
    const int wrong[] = {0, 4000, 20000, nbch - 1};
    for (const int i : wrong)
        frame[size_t(i)] = uint8_t(-int8_t(frame[size_t(i)]));
    WorkBuffer tag = tagBuffer(tagForCode(index));
    worker.process(&frame, &tag);
    const FrameTag result = readFrameTag(tag);
    EXPECT_EQ(result.result, 0) << "no passes left: the LDPC decoder did not converge";
    EXPECT_FALSE(result.bchFailed);
    EXPECT_EQ(result.bchCorrected, 4) << "the four flipped bits, left as they came by the LDPC decoder";
    const std::vector<uint8_t> expected = clean().expected(index);
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + nbch / 8, frame.data()));
}

// A word whose LDPC decoding ends with one parity value still wrong (held
// there at full strength, every other value weak, so that its checks cannot
// outvote it) while its BCH word is the one sent: BCH finds nothing to
// correct and the frame counts as good. A word with many checks failing and
// a clean BCH word is not trusted, nor is an undecided one.
TEST(LDPCWorker, ACleanBchWordWithAFewChecksFailingIsGood)
{
    const int index = 3;
    const int n = frameBits(index);
    WorkBuffer frame = clean().buffer(index);
    auto* values = reinterpret_cast<int8_t*>(frame.data());
    for (int i = 0; i < n; ++i)
        values[i] = int8_t(values[i] > 0 ? 4 : -4);
    values[n - 2] = values[n - 2] > 0 ? -128 : 127;
    const WorkBuffer sent = frame;
    {
        // What the decoder makes of it: not converged, a check or two failing.
        TestDecoder test(index);
        LdpcDecoder& decoder = *test;
        std::vector<uint8_t> out(size_t(n / 8));
        ASSERT_EQ(decoder.decodeFast(values, out.data()), -1);
        EXPECT_GE(decoder.failingChecks(), 1);
        EXPECT_LE(decoder.failingChecks(), LDPCWorker::kFewFailingChecks);
        EXPECT_TRUE(LDPCWorker::wordIsGood(-1, 0, decoder));
        EXPECT_FALSE(LDPCWorker::wordIsGood(-1, BchDecoder::kFailed, decoder));
    }
    LDPCWorker worker(nullptr);
    worker.setDecoderChoice(LdpcDecoderChoice::Standard);
    WorkBuffer tag = tagBuffer(tagForCode(index));
    worker.process(&frame, &tag);
    FrameTag result = readFrameTag(tag);
    EXPECT_EQ(result.result, 0) << "no passes left: the LDPC decoder did not converge";
    EXPECT_FALSE(result.bchFailed);
    EXPECT_EQ(result.bchCorrected, 0);
    const std::vector<uint8_t> expected = clean().expected(index);
    const int nbch = tx::BchEncoder(index).nbch();
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + nbch / 8, frame.data()));

    // The BCH word intact, the parity values random: many checks fail.
    frame = sent;
    std::mt19937 rng(5);
    for (int i = nbch; i < n; ++i)
        frame[size_t(i)] = uint8_t(rng() & 1 ? 1 : -1);
    worker.process(&frame, &tag);
    result = readFrameTag(tag);
    EXPECT_EQ(result.result, -1);
    EXPECT_FALSE(result.bchFailed);
}

TEST(LDPCWorker, RebuildsOnlyOnCodeChange)
{
    LDPCWorker worker(nullptr);
    worker.setDecoderChoice(LdpcDecoderChoice::Standard);
    auto run = [&](uint8_t tagByte) {
        WorkBuffer frame = clean().buffer(std::max(0, codeIndexForFrame(tagByte)));
        WorkBuffer tag = tagBuffer(tagByte);
        worker.process(&frame, &tag);
        return resultOf(tag);
    };
    EXPECT_EQ(run(0x04), 32);
    EXPECT_EQ(run(0x44), 32); // pilots bit: same code
    EXPECT_EQ(run(0xc4), 32);
    EXPECT_EQ(worker.rebuildCount(), 1);
    EXPECT_EQ(run(0x06), 32); // QPSK 2/3 → B6
    EXPECT_EQ(run(0x0d), 32); // 8PSK 2/3 → B6 again
    EXPECT_EQ(worker.rebuildCount(), 2);
    EXPECT_EQ(run(0x00), -1); // dummy frame drops the structure
    EXPECT_EQ(worker.currentCodeIndex(), -1);
    EXPECT_EQ(run(0x0d), 32);
    EXPECT_EQ(worker.rebuildCount(), 3);
}

TEST(LDPCWorker, DisabledLeavesFramesAlone)
{
    LDPCWorker worker(nullptr);
    worker.setDecoderChoice(LdpcDecoderChoice::Standard);
    worker.setDecodingEnabled(false);
    WorkBuffer frame = clean().buffer(3);
    const WorkBuffer before = frame;
    WorkBuffer tag = tagBuffer(0x04);
    worker.process(&frame, &tag);
    EXPECT_EQ(frame, before);
    EXPECT_EQ(resultOf(tag), -1);
    worker.setDecodingEnabled(true);
    worker.process(&frame, &tag);
    EXPECT_EQ(resultOf(tag), 32);
    EXPECT_EQ(frame, clean().expected(3));
}

TEST(LDPCWorker, WrongSizedBuffersAreSafe)
{
    LDPCWorker worker(nullptr);
    worker.setDecoderChoice(LdpcDecoderChoice::Standard);
    // Shorter than N (normal and short codes): never read past the end, not decoded.
    for (auto [tagByte, length] : {std::pair<uint8_t, size_t>{0x04, 64799}, {0x04, 16200}, {0x24, 16199},
                                  {0x24, 0}, {0x04, 1}}) {
        SCOPED_TRACE(length);
        WorkBuffer frame = clean().buffer(3);
        frame.resize(length);
        frame.shrink_to_fit(); // so ASan sees the end of the data
        const WorkBuffer before = frame;
        WorkBuffer tag = tagBuffer(tagByte);
        worker.process(&frame, &tag);
        EXPECT_EQ(frame, before);
        EXPECT_EQ(resultOf(tag), -1);
    }
    // A short frame needs only its 16200 values.
    {
        WorkBuffer frame = clean().buffer(14);
        frame.resize(16200);
        frame.shrink_to_fit();
        WorkBuffer tag = tagBuffer(0x24);
        worker.process(&frame, &tag);
        EXPECT_EQ(resultOf(tag), 32);
        EXPECT_EQ(frame, clean().expected(14));
    }
    // Longer than 64800: the first N values are the codeword.
    {
        WorkBuffer frame = clean().buffer(3);
        frame.resize(70000, 0x7f);
        WorkBuffer tag = tagBuffer(0x04);
        worker.process(&frame, &tag);
        EXPECT_EQ(resultOf(tag), 32);
        EXPECT_EQ(frame, clean().expected(3));
    }
    // A tag buffer too short for a tag reads as no code and grows to one.
    {
        WorkBuffer frame = clean().buffer(3);
        const WorkBuffer before = frame;
        WorkBuffer tag{0x04, 1};
        worker.process(&frame, &tag);
        EXPECT_EQ(tag.size(), kFrameTagBytes);
        EXPECT_EQ(resultOf(tag), -1);
        EXPECT_EQ(readFrameTag(tag).plsCode, 0);
        EXPECT_EQ(frame, before);
    }
    // Missing buffers.
    WorkBuffer tag = tagBuffer(0x04);
    worker.process(nullptr, &tag);
    EXPECT_EQ(resultOf(tag), -1);
    WorkBuffer frame = clean().buffer(3);
    const WorkBuffer before = frame;
    worker.process(&frame, nullptr);
    EXPECT_EQ(frame, before);
    EXPECT_EQ(resultOf(WorkBuffer{0x04, 0}), -1);
    EXPECT_TRUE(readFrameTag(WorkBuffer{0x04, 0}).afterGap);
}

TEST(LDPCWorker, NoAllocationPerFrame)
{
    LDPCWorker worker(nullptr);
    WorkBuffer frame = clean().buffer(3, 3.0);
    WorkBuffer tag = tagBuffer(0x04);
    worker.process(&frame, &tag); // builds B4
    std::vector<WorkBuffer> frames;
    for (int i = 0; i < 3; ++i)
        frames.push_back(clean().buffer(3, 3.0));
    const long before = allocations.load();
    for (WorkBuffer& f : frames) {
        worker.process(&f, &tag);
    }
    const long after = allocations.load();
    EXPECT_EQ(after, before);
    EXPECT_GE(resultOf(tag), 0);
}

// The scaled decoder runs unless the standard one is chosen: it scales by the
// quality the tag carries (or the frame's own estimate) and decodes near the
// threshold what the standard one loses.
TEST(LDPCWorker, ScaledDecodingByDefault)
{
    LDPCWorker worker(nullptr);
    EXPECT_EQ(worker.currentDecoderChoice(), LdpcDecoderChoice::Scaled);
    const int index = 3;
    WorkBuffer frame = clean().buffer(index);
    WorkBuffer tag = tagBuffer(tagForCode(index));
    worker.process(&frame, &tag);
    EXPECT_EQ(readFrameTag(tag).result, LdpcDecoder::scaledProfile().passes);
    EXPECT_EQ(readFrameTag(tag).passesAllowed, LdpcDecoder::scaledProfile().passes);
    EXPECT_EQ(frame, clean().expected(index));

    // QPSK 1/2 at 1.0 dB (the standard's QEF point): both workers get the
    // same frames; the scaled one with the quality in the tag and without.
    LDPCWorker standard(nullptr);
    standard.setDecoderChoice(LdpcDecoderChoice::Standard);
    std::mt19937 rng(8);
    int scaledGood = 0, estimatedGood = 0, standardGood = 0;
    const int frames = 6;
    for (int f = 0; f < frames; ++f) {
        const EncodedFrame sent = encodeRandomFrame(index, rng);
        const std::vector<int8_t> soft = demappedValues(sent.codeword, plsCodeFor(index, false), 1.0, rng);
        std::vector<uint8_t> expected(sent.codeword);
        for (size_t b = 0; b < expected.size(); ++b)
            expected[b] ^= kBbScrambleTable[b];
        auto run = [&](LDPCWorker& w, float quality) {
            WorkBuffer buffer(soft.size());
            std::memcpy(buffer.data(), soft.data(), soft.size());
            WorkBuffer t = tagBuffer(tagForCode(index));
            FrameTag withQuality = readFrameTag(t);
            withQuality.qualityDb = quality;
            writeFrameTag(t, withQuality);
            w.process(&buffer, &t);
            const int kbch = tx::BchEncoder(index).kbch() / 8;
            return readFrameTag(t).result >= 0 && std::equal(expected.begin(), expected.begin() + kbch, buffer.data());
        };
        scaledGood += run(worker, 1.0f);
        estimatedGood += run(worker, NAN);
        standardGood += run(standard, 1.0f);
    }
    EXPECT_EQ(scaledGood, frames);
    EXPECT_GE(estimatedGood, frames / 2) << "the frame's own estimate reads high at 1 dB, yet decodes";
    EXPECT_LE(standardGood, frames / 2);

    // 16APSK 2/3 (MODCOD 18) shares the code of QPSK 2/3; its symbols
    // become LLRs under either choice.
    for (LDPCWorker* w : {&worker, &standard}) {
        WorkBuffer apsk = clean().apskBuffer(5, 18);
        WorkBuffer apskTag = tagBuffer(18);
        w->process(&apsk, &apskTag);
        EXPECT_EQ(readFrameTag(apskTag).passesAllowed, LdpcDecoder::scaledProfile(5).passes);
        EXPECT_GE(readFrameTag(apskTag).result, 0);
        EXPECT_EQ(apsk, clean().expected(5));
    }
}

// On its own thread, fed from another while decoding is switched off and on.
TEST(LDPCWorker, ThreadedFramesAndToggle)
{
    std::mutex m;
    std::condition_variable cv;
    std::vector<int32_t> results;
    LDPCWorker worker([&](WorkBuffer*, WorkBuffer* tag) {
        std::lock_guard<std::mutex> lock(m);
        results.push_back(resultOf(*tag));
        cv.notify_all();
    });
    worker.start();
    const int count = 12;
    std::vector<WorkBuffer> frames, tags;
    for (int i = 0; i < count; ++i) {
        const uint8_t tagByte = (i % 3 == 0) ? 0x24 : (i % 3 == 1 ? 0x04 : 0x1d); // C4, B4, reserved
        frames.push_back(clean().buffer(std::max(0, codeIndexForFrame(tagByte))));
        tags.push_back(tagBuffer(tagByte));
    }
    std::thread toggler([&] {
        for (int i = 0; i < 50; ++i) {
            worker.setDecodingEnabled(i % 2 == 1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        worker.setDecodingEnabled(true);
    });
    for (int i = 0; i < count; ++i)
        worker.enqueue(&frames[size_t(i)], &tags[size_t(i)]);
    toggler.join();
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return int(results.size()) == count; }));
    }
    worker.stop();
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const int index = codeIndexForFrame(tags[size_t(i)][0]);
        const int32_t result = results[size_t(i)];
        if (index < 0 || result == -1) { // reserved, or decoded while switched off
            EXPECT_EQ(result, -1);
            EXPECT_EQ(frames[size_t(i)].size(), 64800u);
        } else {
            // QPSK and 8PSK frames are scaled (50 passes), APSK ones not (32).
            const int modcod = tags[size_t(i)][0] & 0x1F;
            EXPECT_EQ(result, modcod <= 17 ? LdpcDecoder::scaledProfile().passes : LdpcDecoder::kPasses);
            EXPECT_EQ(frames[size_t(i)], clean().expected(index));
        }
    }
}

} // namespace
