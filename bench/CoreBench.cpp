// Cost of the processing spine: pool operations and passing items between workers.
#include "core/BufferAllocator.h"
#include "core/HandOn.h"
#include "core/Worker.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// One raw sample block: 16384 complex 16-bit samples.
constexpr size_t kBlockBytes = 65536;

void BM_AllocDeallocBlock(benchmark::State& state)
{
    BufferAllocator pool;
    const size_t size = size_t(state.range(0));
    for (auto _ : state) {
        WorkBuffer* b = pool.alloc(size);
        benchmark::DoNotOptimize(b->data());
        pool.dealloc(b);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}
BENCHMARK(BM_AllocDeallocBlock)->Arg(5)->Arg(kBlockBytes)->Arg(131072);

// Releasing in allocation order with many buffers in flight, as the chain does.
void BM_DeallocWithManyInFlight(benchmark::State& state)
{
    BufferAllocator pool;
    const int inFlight = int(state.range(0));
    std::vector<WorkBuffer*> held;
    for (int i = 0; i < inFlight; ++i)
        held.push_back(pool.alloc(64));
    size_t oldest = 0;
    for (auto _ : state) {
        pool.dealloc(held[oldest]);
        held[oldest] = pool.alloc(64);
        oldest = (oldest + 1) % held.size();
    }
    for (WorkBuffer* b : held)
        pool.dealloc(b);
}
BENCHMARK(BM_DeallocWithManyInFlight)->Arg(16)->Arg(4096)->Arg(30000);

class PassWorker : public Worker {
public:
    using Worker::Worker;
    ~PassWorker() override { stop(); }
    size_t objectSize() const override { return sizeof(*this); }
    void process(WorkBuffer* input, WorkBuffer*) override { benchmark::DoNotOptimize(input->data()); }
};

// Blocks through two chained workers: the per-item overhead of the spine.
void BM_TwoStageChain(benchmark::State& state)
{
    BufferAllocator pool;
    std::atomic<int64_t> finished{0};
    PassWorker second([&](WorkBuffer* in, WorkBuffer* out) {
        pool.dealloc(in);
        pool.dealloc(out);
        finished.fetch_add(1, std::memory_order_release);
    });
    PassWorker first([&](WorkBuffer* in, WorkBuffer* out) {
        pool.dealloc(out);
        handOn(pool, second, in, 8);
    });
    first.start();
    second.start();
    int64_t sent = 0;
    for (auto _ : state) {
        WorkBuffer* block = pool.alloc(kBlockBytes);
        first.enqueue(block, pool.alloc(8));
        ++sent;
        // Keep a bounded number in flight, as a real source would.
        while (sent - finished.load(std::memory_order_acquire) > 256)
            std::this_thread::yield();
    }
    while (finished.load(std::memory_order_acquire) < sent)
        std::this_thread::yield();
    first.stop();
    second.stop();
    state.SetItemsProcessed(sent);
}
BENCHMARK(BM_TwoStageChain)->UseRealTime();

} // namespace
