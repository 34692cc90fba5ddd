// The unit of data between stages: a byte vector owned by the buffer pool.
#pragma once

#include <cstdint>
#include <vector>

// What the bytes mean depends on the stage that wrote them. A buffer is
// identified by its address; the pool never moves it.
using WorkBuffer = std::vector<uint8_t>;

// One piece of work queued at a worker. Either pointer may be null where a
// stage says so (the baseband stage works in place and has no output).
struct WorkItem {
    WorkBuffer* input = nullptr;
    WorkBuffer* output = nullptr;
};
