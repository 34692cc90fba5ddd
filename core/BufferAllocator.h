// The shared pool of work buffers: a fixed number of slots, the only bound on
// the work in flight anywhere in the chain.
#pragma once

#include "core/WorkBuffer.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// Hands out zero-filled buffers of exactly the requested size and takes them
// back. Slots hold no memory while free; released slots are reused in the
// order they were released. Safe to use from any thread.
//
// Rule for callers when alloc() returns null (pool exhausted): drop the block
// being formed. Release every buffer that block held, never write through the
// null pointer, and carry on with the next block. handOn() (core/HandOn.h)
// does this for the usual "queue the data with a fresh output" step.
class BufferAllocator {
public:
    static constexpr int kSlotCount = 32768;

    BufferAllocator();
    BufferAllocator(const BufferAllocator&) = delete;
    BufferAllocator& operator=(const BufferAllocator&) = delete;
    // Prints the report of buffers still in use and the highest count, then
    // frees everything, including slots that were never given back.
    virtual ~BufferAllocator();

    // A buffer of exactly `size` zero bytes, or null when every slot is in
    // use. The console line comes once per exhaustion: the first null after
    // a successful allocation prints it, the ones following do not.
    WorkBuffer* alloc(size_t size);

    // Gives the buffer back and frees its memory. Null, a buffer not from this
    // pool or one already released only get "dealloc failed, buffer not found.".
    void dealloc(WorkBuffer* buffer);

    // Number of buffers in use; may be read from any thread without locking.
    int allocatedCount() const { return inUse.load(std::memory_order_relaxed); }
    uint64_t highestCount() const;
    // Allocations refused since construction.
    uint64_t failedCount() const;

private:
    static constexpr int kNone = -1;

    // Slot index of `buffer`, or kNone when it is not one of our slots.
    int slotIndexOf(const WorkBuffer* buffer) const;

    std::vector<WorkBuffer> slotBuffers;   // not `slots`: a Qt keyword macro
    // Per slot: 1 while handed out, 0 while free. A slot's address gives its
    // index directly, so no list of slots in use is needed to find it.
    std::array<int32_t, kSlotCount> useCount{};
    std::atomic<int> inUse{0};

    // Free slots in reuse order: a ring of indices.
    std::array<int32_t, kSlotCount> freeRing{};
    int32_t freeFront = 0;
    int32_t freeCount = kSlotCount;

    mutable std::mutex poolMutex;
    uint64_t highest = 0;
    uint64_t failed = 0;
    bool exhausted = false;   // the last allocation was refused
};
