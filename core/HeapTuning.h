// How the C library's heap treats the work buffers.
#pragma once

// The chain takes and releases blocks of 64–256 KiB all the time. Left to
// itself the heap maps each from the system and unmaps it on release, so
// every block starts as fresh pages: a page fault per 4 KiB and the kernel
// zeroing them, about a sixth of the receiver's CPU. This keeps such blocks
// in the heap for reuse (up to 4 MiB each; 32 MiB of free memory at the top
// is kept before any goes back), in two arenas shared by the threads so that
// the memory kept does not multiply with them. Call at the start of main,
// before any thread runs. Without glibc it does nothing.
void keepWorkBuffersInTheHeap();
