#include "core/HandOn.h"

#include <gtest/gtest.h>

#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// Never started: items stay in its queue where the test can count them.
class IdleWorker : public Worker {
public:
    IdleWorker() : Worker([](WorkBuffer*, WorkBuffer*) {}) {}
    ~IdleWorker() override { stop(); }
    size_t objectSize() const override { return sizeof(*this); }
    void process(WorkBuffer*, WorkBuffer*) override {}
};

} // namespace

TEST(HandOn, QueuesTheDataWithAFreshOutput)
{
    BufferAllocator pool;
    IdleWorker next;
    WorkBuffer* data = pool.alloc(100);
    EXPECT_TRUE(handOn(pool, next, data, 400));
    EXPECT_EQ(next.queuedCount(), 1u);
    EXPECT_EQ(pool.allocatedCount(), 2);
}

TEST(HandOn, DropsTheBlockWhenThePoolIsExhausted)
{
    BufferAllocator pool;
    IdleWorker next;
    std::vector<WorkBuffer*> all;
    for (int i = 0; i < BufferAllocator::kSlotCount; ++i)
        all.push_back(pool.alloc(1));
    WorkBuffer* data = all.back();

    CaptureStdout();
    EXPECT_FALSE(handOn(pool, next, data, 400));
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("No free buffers found"), std::string::npos);
    EXPECT_EQ(out.find("dealloc failed"), std::string::npos);
    EXPECT_EQ(next.queuedCount(), 0u);
    EXPECT_EQ(pool.allocatedCount(), BufferAllocator::kSlotCount - 1) << "the data was released";
}

TEST(HandOn, NullDataAndNullReleasesAreQuietNoOps)
{
    BufferAllocator pool;
    IdleWorker next;
    CaptureStdout();
    EXPECT_FALSE(handOn(pool, next, nullptr, 400));
    releaseIfAny(pool, nullptr);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(next.queuedCount(), 0u);
    EXPECT_EQ(pool.allocatedCount(), 0);

    WorkBuffer* b = pool.alloc(8);
    releaseIfAny(pool, b);
    EXPECT_EQ(pool.allocatedCount(), 0);
}
