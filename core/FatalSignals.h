// Fatal signals on worker threads: the crash report for a fault inside a
// worker's process(), and keeping the termination signals off worker threads.
#pragma once

#include <csignal>

// Installs the fatal-signal handler for SIGABRT, SIGFPE, SIGILL and SIGSEGV
// (process-wide) and gives the calling thread an alternate signal stack, so a
// stack overflow still reaches the handler. A fatal signal raised while the
// thread's worker is in process() writes "crash.dump" and ends the process
// with exit code 1; anywhere else it takes its default action.
void installFatalSignalHandlers();

// The handler itself, for the signals above.
void fatalSignalHandler(int sig);

// Frees the calling thread's alternate signal stack.
void releaseSignalStack();

// Blocks SIGINT and SIGTERM on the calling thread for the object's lifetime.
// Threads created meanwhile inherit the mask, so those signals, which are
// directed at the process, are delivered to a thread that does not block them
// (the main thread) and never interrupt a worker.
class TerminationSignalsBlocked {
public:
    TerminationSignalsBlocked();
    ~TerminationSignalsBlocked();
    TerminationSignalsBlocked(const TerminationSignalsBlocked&) = delete;
    TerminationSignalsBlocked& operator=(const TerminationSignalsBlocked&) = delete;

private:
    sigset_t savedMask;
};
