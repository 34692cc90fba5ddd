// Post-mortem report of a worker that received a fatal signal.
#pragma once

#include <string>

class Worker;

// Writes "crash.dump" in the working directory: header, stack trace of the
// calling thread, the worker object's bytes and the current item's input and
// output buffers. Called on the failing worker's thread; ends the process
// with exit code 1.
//
// Everything but the stack trace's names is written with write(2) from
// fixed buffers. The names need the dynamic loader and the demangler, which
// allocate: after a fault inside the allocator they could wait forever on
// its lock, so each lookup runs under a watchdog, and once one has taken
// too long the remaining frames are written by address alone ("??").
[[noreturn]] void writeCrashDump(const Worker& worker, int signal);

// For tests: replaces the symbol lookup of the stack trace (nullptr: the
// real one) and the watchdog's time per frame.
void setCrashSymbolLookup(std::string (*lookup)(const void* address), unsigned seconds);
