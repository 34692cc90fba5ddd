#include "core/BufferAllocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

constexpr int kSlots = BufferAllocator::kSlotCount;

std::string threadIdText()
{
    std::ostringstream s;
    s << std::this_thread::get_id();
    return s.str();
}

} // namespace

TEST(BufferAllocator, HandsOutSlotsInOrderAndReusesThemFirstReleasedFirst)
{
    BufferAllocator pool;
    WorkBuffer* first = pool.alloc(8);
    WorkBuffer* second = pool.alloc(8);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(second, first + 1);

    pool.dealloc(first);
    std::vector<WorkBuffer*> taken;
    for (int i = 0; i < kSlots - 1; ++i) {
        taken.push_back(pool.alloc(1));
        ASSERT_NE(taken.back(), nullptr) << "allocation " << i;
    }
    // The released slot went to the back of the free list.
    EXPECT_EQ(taken.back(), first);
    EXPECT_EQ(std::count(taken.begin(), taken.end() - 1, first), 0);
    EXPECT_EQ(taken[0], first + 2);

    // Two releases come back in the order they were made.
    pool.dealloc(taken[10]);
    pool.dealloc(taken[3]);
    EXPECT_EQ(pool.alloc(4), taken[10]);
    EXPECT_EQ(pool.alloc(4), taken[3]);
}

TEST(BufferAllocator, BuffersAreExactSizeAndZeroFilledEvenWhenReused)
{
    BufferAllocator pool;
    WorkBuffer* b = pool.alloc(1000);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->size(), 1000u);
    EXPECT_EQ(b->capacity(), 1000u);
    std::fill(b->begin(), b->end(), 0xA5);
    pool.dealloc(b);
    EXPECT_EQ(b->capacity(), 0u) << "a released slot keeps no memory";

    // Cycle through every other slot until the dirty one comes round again.
    for (int i = 0; i < kSlots - 1; ++i)
        pool.dealloc(pool.alloc(0));
    WorkBuffer* again = pool.alloc(333);
    ASSERT_EQ(again, b);
    EXPECT_EQ(again->size(), 333u);
    EXPECT_EQ(again->capacity(), 333u);
    EXPECT_TRUE(std::all_of(again->begin(), again->end(), [](uint8_t v) { return v == 0; }));
    pool.dealloc(again);
}

TEST(BufferAllocator, ZeroSizeAllocationCountsAsInUse)
{
    BufferAllocator pool;
    WorkBuffer* b = pool.alloc(0);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->empty());
    EXPECT_EQ(pool.allocatedCount(), 1);
    pool.dealloc(b);
    EXPECT_EQ(pool.allocatedCount(), 0);
}

TEST(BufferAllocator, ExhaustionReturnsNullWithMessageAndRecovers)
{
    BufferAllocator pool;
    std::vector<WorkBuffer*> all;
    for (int i = 0; i < kSlots; ++i)
        all.push_back(pool.alloc(2));
    EXPECT_EQ(std::count(all.begin(), all.end(), nullptr), 0);
    EXPECT_EQ(pool.allocatedCount(), kSlots);

    CaptureStdout();
    EXPECT_EQ(pool.alloc(2), nullptr);
    EXPECT_EQ(GetCapturedStdout(),
              "No free buffers found, returning NULL buffer... (thread: " + threadIdText() + ")\n");
    EXPECT_EQ(pool.allocatedCount(), kSlots);
    // While the pool stays exhausted the line is not repeated: a chain that
    // drops blocks at full rate must not flood the log.
    CaptureStdout();
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(pool.alloc(2), nullptr);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(pool.failedCount(), 1001u);

    pool.dealloc(all[500]);
    EXPECT_EQ(pool.alloc(2), all[500]);
    EXPECT_EQ(pool.highestCount(), uint64_t(kSlots));
    // A new exhaustion is announced again.
    CaptureStdout();
    EXPECT_EQ(pool.alloc(2), nullptr);
    EXPECT_EQ(pool.alloc(2), nullptr);
    EXPECT_EQ(GetCapturedStdout(),
              "No free buffers found, returning NULL buffer... (thread: " + threadIdText() + ")\n");
}

TEST(BufferAllocator, BadReleasesOnlyPrintTheMessage)
{
    BufferAllocator pool;
    WorkBuffer* kept = pool.alloc(16);
    WorkBuffer* released = pool.alloc(16);
    pool.dealloc(released);
    WorkBuffer foreign(16);
    BufferAllocator otherPool;
    WorkBuffer* otherPoolsBuffer = otherPool.alloc(16);

    CaptureStdout();
    pool.dealloc(released);          // second release
    pool.dealloc(nullptr);
    pool.dealloc(&foreign);
    pool.dealloc(otherPoolsBuffer);  // belongs to another pool
    const std::string expected = "dealloc failed, buffer not found.\n";
    EXPECT_EQ(GetCapturedStdout(), expected + expected + expected + expected);

    EXPECT_EQ(pool.allocatedCount(), 1);
    EXPECT_EQ(kept->size(), 16u);
    EXPECT_EQ(otherPool.allocatedCount(), 1);
    // The double release did not put the slot on the free list twice.
    WorkBuffer* a = pool.alloc(1);
    WorkBuffer* b = pool.alloc(1);
    EXPECT_NE(a, b);
}

TEST(BufferAllocator, DestructorReportsBuffersStillInUse)
{
    CaptureStdout();
    {
        BufferAllocator pool;
        std::vector<WorkBuffer*> b;
        for (int i = 0; i < 5; ++i)
            b.push_back(pool.alloc(100));
        pool.dealloc(b[1]);
        pool.dealloc(b[3]);
    }
    EXPECT_EQ(GetCapturedStdout(), "There were still 3 buffers allocated.\nHighest allocation count: 5\n");

    CaptureStdout();
    {
        BufferAllocator pool;
        pool.dealloc(pool.alloc(1));
        pool.dealloc(pool.alloc(1));
    }
    EXPECT_EQ(GetCapturedStdout(), "Highest allocation count: 1\n");
}

// Four threads allocate, stamp, check and release buffers of random sizes at
// once. A slot handed to two threads would show up as a foreign stamp.
TEST(BufferAllocator, ConcurrentUseFromFourThreads)
{
    BufferAllocator pool;
    constexpr int kThreads = 4;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&pool, &failures, t] {
            std::mt19937 rng(1234 + t);
            std::vector<WorkBuffer*> held;
            for (int round = 0; round < 20000; ++round) {
                if (held.size() < 64 && (held.empty() || rng() % 2)) {
                    WorkBuffer* b = pool.alloc(1 + rng() % 512);
                    if (b == nullptr) {
                        ++failures[t];
                        continue;
                    }
                    std::fill(b->begin(), b->end(), uint8_t(t + 1));
                    held.push_back(b);
                } else {
                    const size_t i = rng() % held.size();
                    WorkBuffer* b = held[i];
                    if (!std::all_of(b->begin(), b->end(), [t](uint8_t v) { return v == t + 1; }))
                        ++failures[t];
                    pool.dealloc(b);
                    held.erase(held.begin() + i);
                }
            }
            for (WorkBuffer* b : held)
                pool.dealloc(b);
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    EXPECT_EQ(pool.allocatedCount(), 0);
    EXPECT_LE(pool.highestCount(), uint64_t(kThreads * 64));
    EXPECT_GE(pool.highestCount(), 64u);
}
