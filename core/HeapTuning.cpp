#include "core/HeapTuning.h"

#include <cstdlib>   // defines __GLIBC__ where it is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void keepWorkBuffersInTheHeap()
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
    mallopt(M_ARENA_MAX, 2);
#endif
}
