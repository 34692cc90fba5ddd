// Post-mortem report of a worker that received a fatal signal.
#pragma once

class Worker;

// Writes "crash.dump" in the working directory: header, stack trace of the
// calling thread, the worker object's bytes and the current item's input and
// output buffers. Called on the failing worker's thread; ends the process
// with exit code 1.
[[noreturn]] void writeCrashDump(const Worker& worker, int signal);
