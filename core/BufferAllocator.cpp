#include "core/BufferAllocator.h"

#include "core/Log.h"

#include <thread>

BufferAllocator::BufferAllocator()
    : slotBuffers(kSlotCount)
{
    for (int i = 0; i < kSlotCount; ++i)
        freeRing[i] = i;
}

BufferAllocator::~BufferAllocator()
{
    const int stillInUse = allocatedCount();
    if (stillInUse != 0)
        LogLine() << "There were still " << stillInUse << " buffers allocated.";
    LogLine() << "Highest allocation count: " << highestCount();
}

WorkBuffer* BufferAllocator::alloc(size_t size)
{
    int index;
    {
        std::lock_guard<std::mutex> lock(poolMutex);
        if (freeCount == 0) {
            ++failed;
            if (!exhausted)
                LogLine() << "No free buffers found, returning NULL buffer... (thread: "
                          << std::this_thread::get_id() << ")";
            exhausted = true;
            return nullptr;
        }
        exhausted = false;
        index = freeRing[freeFront];
        freeFront = (freeFront + 1) % kSlotCount;
        --freeCount;
        ++useCount[index];

        const int count = inUse.load(std::memory_order_relaxed) + 1;
        inUse.store(count, std::memory_order_relaxed);
        if (static_cast<uint64_t>(count) > highest)
            highest = static_cast<uint64_t>(count);
    }

    // No other thread can reach this slot until we return it. A free slot
    // holds no memory, so this is one fresh zero-filled block of `size` bytes.
    WorkBuffer& slot = slotBuffers[index];
    slot.resize(size);
    if (slot.capacity() != size)
        slot.shrink_to_fit();
    return &slot;
}

int BufferAllocator::slotIndexOf(const WorkBuffer* buffer) const
{
    // Compare as integers: pointers into different objects are not ordered.
    const auto address = reinterpret_cast<uintptr_t>(buffer);
    const auto first = reinterpret_cast<uintptr_t>(slotBuffers.data());
    const auto end = reinterpret_cast<uintptr_t>(slotBuffers.data() + kSlotCount);
    if (address < first || address >= end)
        return kNone;
    const uintptr_t offset = address - first;
    if (offset % sizeof(WorkBuffer) != 0)
        return kNone;
    return static_cast<int>(offset / sizeof(WorkBuffer));
}

void BufferAllocator::dealloc(WorkBuffer* buffer)
{
    std::lock_guard<std::mutex> lock(poolMutex);
    const int index = slotIndexOf(buffer);
    if (index == kNone || useCount[index] <= 0) {
        LogLine() << "dealloc failed, buffer not found.";
        return;
    }
    if (--useCount[index] > 0)
        return;

    WorkBuffer().swap(slotBuffers[index]);
    freeRing[(freeFront + freeCount) % kSlotCount] = index;
    ++freeCount;
    inUse.store(inUse.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
}

uint64_t BufferAllocator::failedCount() const
{
    std::lock_guard<std::mutex> lock(poolMutex);
    return failed;
}

uint64_t BufferAllocator::highestCount() const
{
    std::lock_guard<std::mutex> lock(poolMutex);
    return highest;
}
