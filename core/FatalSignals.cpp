#include "core/FatalSignals.h"

#include "core/CrashDump.h"
#include "core/SignalSafeText.h"
#include "core/Worker.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <execinfo.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr size_t kSignalStackSize = 256 * 1024;
thread_local void* signalStack = nullptr;

} // namespace

// Not static: the crash report's stack trace can then name it.
void fatalSignalHandler(int sig)
{
    // One report per process: a second fault (another worker, or inside the
    // report itself) takes the default action.
    static std::atomic<bool> reporting{false};
    Worker* worker = Worker::workerInProcess();
    if (worker == nullptr || reporting.exchange(true)) {
        // Not inside a worker's process(): the signal takes its default action
        // once the handler returns (it is blocked until then).
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    {
        // Without stdio, whose lock the interrupted code may hold.
        SignalSafeText out(STDOUT_FILENO);
        out.text("Worker '").text(worker->name()).text("' received signal ").decimal(sig);
        out.text(", thread addr: 0x").hex(reinterpret_cast<uintptr_t>(worker->threadAddress())).text("\n");
    }
    writeCrashDump(*worker, sig);
}

void installFatalSignalHandlers()
{
    if (signalStack == nullptr) {
        void* mem = mmap(nullptr, kSignalStackSize, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mem != MAP_FAILED) {
            stack_t ss{};
            ss.ss_sp = mem;
            ss.ss_size = kSignalStackSize;
            if (sigaltstack(&ss, nullptr) == 0)
                signalStack = mem;
            else
                munmap(mem, kSignalStackSize);
        }
    }

    // The first stack capture loads the unwinder, which allocates: done
    // here, the report's own capture then does not.
    void* frame = nullptr;
    backtrace(&frame, 1);

    struct sigaction action {};
    action.sa_handler = fatalSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK;
    for (int sig : {SIGABRT, SIGFPE, SIGILL, SIGSEGV})
        sigaction(sig, &action, nullptr);
}

void releaseSignalStack()
{
    if (signalStack == nullptr)
        return;
    stack_t ss{};
    ss.ss_flags = SS_DISABLE;
    sigaltstack(&ss, nullptr);
    munmap(signalStack, kSignalStackSize);
    signalStack = nullptr;
}

TerminationSignalsBlocked::TerminationSignalsBlocked()
{
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &block, &savedMask);
}

TerminationSignalsBlocked::~TerminationSignalsBlocked()
{
    pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
}
