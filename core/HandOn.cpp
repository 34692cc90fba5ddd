#include "core/HandOn.h"

bool handOn(BufferAllocator& pool, Worker& next, WorkBuffer* data, size_t outputSize)
{
    if (data == nullptr)
        return false;
    WorkBuffer* output = pool.alloc(outputSize);
    if (output == nullptr) {
        pool.dealloc(data);
        return false;
    }
    next.enqueue(data, output);
    return true;
}

void releaseIfAny(BufferAllocator& pool, WorkBuffer* buffer)
{
    if (buffer != nullptr)
        pool.dealloc(buffer);
}
