#include "receiver/ProcessingChain.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

void feed(ProcessingChain& chain, int samples, int16_t value = 1000)
{
    for (int k = 0; k < samples; ++k)
        chain.sampleCallback()(value, int16_t(-value));
}

template <typename Pred>
bool waitUntil(Pred done)
{
    return testsupport::waitUntil(done, 5000);
}

} // namespace

TEST(ProcessingChain, ABlockIsQueuedAfterExactly16384Samples)
{
    CaptureStdout();
    {
        ProcessingChain chain;   // not started: items stay queued
        EXPECT_EQ(chain.pool().allocatedCount(), 1) << "the block being filled";
        feed(chain, 16383);
        EXPECT_EQ(chain.fftWorker().queuedCount(), 0u);
        EXPECT_EQ(chain.basebandWorker().queuedCount(), 0u);
        feed(chain, 1);
        EXPECT_EQ(chain.fftWorker().queuedCount(), 1u);
        EXPECT_EQ(chain.basebandWorker().queuedCount(), 1u);
        // Float copy and its output, the raw block, the next raw block.
        EXPECT_EQ(chain.pool().allocatedCount(), 4);
    }
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(out.find("Initializing 32768 work-queue buffers...\n"), 0u);
    EXPECT_NE(out.find("There were still 3 buffers allocated.\nHighest allocation count: 4\n"), std::string::npos)
        << "queued items are reported, the partial block was given back";
}

// While nothing is received, an input that can wait is held while the
// spectrum is more than a block behind: the band it finds moves the mixer,
// and a move read from a stale block would land blocks too late.
TEST(ProcessingChain, WhileAcquiringInputWaitsForTheSpectrum)
{
    CaptureStdout();
    {
        ProcessingChain chain;
        EXPECT_TRUE(chain.readyForInput());
        feed(chain, 16384 * ProcessingChain::kSpectrumBlocksBehind);
        EXPECT_TRUE(chain.readyForInput()) << "a block in hand";
        feed(chain, 16384);
        EXPECT_LE(chain.pool().allocatedCount(), ProcessingChain::kAcquiringHighWater);
        EXPECT_FALSE(chain.readyForInput()) << "the spectrum has read none of the blocks";
        chain.start();
        EXPECT_TRUE(waitUntil([&] { return chain.readyForInput(); }));
        chain.stop();
    }
    GetCapturedStdout();
}

TEST(ProcessingChain, StartAndStopInRegistrationOrder)
{
    CaptureStdout();
    {
        ProcessingChain chain;
        std::vector<std::string> started, stopped;
        chain.start([&](Worker& w) { started.push_back(lengthPrefixedName(typeid(w))); });
        chain.stop([&](Worker& w) { stopped.push_back(lengthPrefixedName(typeid(w))); });
        const std::vector<std::string> order = {"9FFTWorker", "14BasebandWorker", "9FIRWorker", "14ResampleWorker", "11DemodWorker",
                                                 "13ViterbiWorker"};
        EXPECT_EQ(started, order);
        EXPECT_EQ(stopped, order);
    }
    const std::string out = GetCapturedStdout();
    const size_t starting = out.find("Starting Worker Threads... \n");
    const size_t stopping = out.find("Stopping worker threads... \n");
    const size_t stopped = out.find("All worker threads have been stopped.\n");
    ASSERT_NE(starting, std::string::npos);
    ASSERT_NE(stopping, std::string::npos);
    ASSERT_NE(stopped, std::string::npos);
    EXPECT_LT(starting, stopping);
    EXPECT_LT(stopping, stopped);
    EXPECT_NE(out.find("Highest allocation count: "), std::string::npos);
}

TEST(ProcessingChain, BlocksFlowToTheResampler)
{
    ProcessingChain chain;
    chain.firWorker().designMatchedFilter(2000000, 1000000, 64, 0.35f);
    chain.resampleWorker().setSymbolRate(4000000, 1000000);
    std::atomic<size_t> symbols{0};
    chain.setSymbolObserver([&](const WorkBuffer& block) { symbols += block.size() / 4; });
    chain.start();
    feed(chain, 16384 * 4);
    // 16384 samples → 32768 filtered samples → 8192 symbols a block.
    EXPECT_TRUE(waitUntil([&] { return symbols.load() >= 4 * 8192 - 2; }));
    chain.stop();
    EXPECT_EQ(chain.pool().allocatedCount(), 1) << "only the block being filled is held";
}

// With the pool exhausted the chain drops blocks instead of writing through
// null, and carries on once buffers come back.
TEST(ProcessingChain, KeepsRunningWhenThePoolRunsDryAndRecovers)
{
    CaptureStdout();
    ProcessingChain chain;
    chain.firWorker().designMatchedFilter(2000000, 1000000, 64, 0.35f);
    chain.resampleWorker().setSymbolRate(4000000, 1000000);
    std::atomic<size_t> blocks{0};
    chain.setSymbolObserver([&](const WorkBuffer&) { ++blocks; });
    chain.start();

    std::vector<WorkBuffer*> hoard;
    while (WorkBuffer* b = chain.pool().alloc(1))
        hoard.push_back(b);
    feed(chain, 16384 * 3);   // the held block goes on; no new ones can be had
    EXPECT_TRUE(waitUntil([&] { return chain.basebandWorker().queuedCount() == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const size_t beforeRelease = blocks.load();
    EXPECT_LE(beforeRelease, 1u);

    for (WorkBuffer* b : hoard)
        chain.pool().dealloc(b);
    feed(chain, 16384 * 4);
    EXPECT_TRUE(waitUntil([&] { return blocks.load() >= beforeRelease + 3; }));
    // The last block may still be on its way (the spectrum copy, say).
    EXPECT_TRUE(waitUntil([&] { return chain.pool().allocatedCount() == 1; }));
    EXPECT_TRUE(chain.readyForInput()) << "no spectrum block left counted after the drops";
    chain.stop();
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("No free buffers found"), std::string::npos);
    EXPECT_EQ(out.find("dealloc failed"), std::string::npos);
    EXPECT_EQ(chain.pool().allocatedCount(), 1);
    // Every block lost is counted: those gathered while no buffer could be
    // had, and the held one if it found no output buffer at the matched
    // filter (how many depends on when the stages gave buffers back), each
    // one a refused allocation. (That the pool's line comes once per
    // exhaustion is the pool's own test.)
    EXPECT_GE(chain.droppedBlocks(), 1u);
    EXPECT_LE(chain.droppedBlocks(), 4u);
    EXPECT_GE(chain.pool().failedCount(), chain.droppedBlocks());
}

// Settings no user should pick still leave the chain running: no filter, no
// symbol rate, symbol rates at and far above what the sample rate carries.
TEST(ProcessingChain, ImpossibleSettingsDoNotStopTheChain)
{
    CaptureStdout();
    ProcessingChain chain;
    std::atomic<size_t> blocks{0};
    chain.setSymbolObserver([&](const WorkBuffer&) { ++blocks; });
    chain.start();
    const struct { int32_t symbolRate; int taps; } settings[] = {
        {1000000, 0}, {0, 64}, {1000000, 64}, {2000000, 64}, {1500000, 256}, {50000000, 16}};
    size_t expected = 0;
    for (const auto& s : settings) {
        chain.firWorker().designMatchedFilter(2000000, s.symbolRate, s.taps, 0.35f);
        chain.resampleWorker().setSymbolRate(4000000, s.symbolRate);
        feed(chain, 16384 * 2, 20000);
        expected += 2;
        EXPECT_TRUE(waitUntil([&] { return blocks.load() >= expected; })) << s.symbolRate << " " << s.taps;
    }
    chain.stop();
    GetCapturedStdout();
    EXPECT_EQ(chain.pool().allocatedCount(), 1);
}
