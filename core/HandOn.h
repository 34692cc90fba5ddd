// Passing a block to the next stage, following the pool's rule for exhaustion.
#pragma once

#include "core/BufferAllocator.h"
#include "core/Worker.h"

#include <cstddef>

// Queues `data` at `next` together with a fresh output buffer of `outputSize`
// bytes. When the pool has no buffer left the block is dropped: `data` is
// released and false returned. A null `data` (an upstream drop) queues nothing.
bool handOn(BufferAllocator& pool, Worker& next, WorkBuffer* data, size_t outputSize);

// Releases `buffer` unless it is null (a stage without that buffer).
void releaseIfAny(BufferAllocator& pool, WorkBuffer* buffer);
