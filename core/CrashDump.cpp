#include "core/CrashDump.h"

#include "core/Log.h"
#include "core/SignalSafeText.h"
#include "core/StackSymbols.h"
#include "core/Version.h"
#include "core/Worker.h"

#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr int kMaxFrames = 128;

std::string (*symbolLookup)(const void*) = symbolNameAt;
unsigned lookupSeconds = 5;

// The watchdog of the name lookups. SIGALRM goes to whichever thread does
// not block it: one that is not the reporting thread passes it on.
sigjmp_buf lookupTimedOut;
pthread_t reportingThread;
volatile sig_atomic_t lookupArmed = 0;

void onLookupTimeout(int)
{
    if (!pthread_equal(pthread_self(), reportingThread)) {
        pthread_kill(reportingThread, SIGALRM);
        return;
    }
    if (lookupArmed != 0)
        siglongjmp(lookupTimedOut, 1);
}

char symbolName[512];
char moduleName[256];

void copyName(char* to, size_t size, const std::string& from)
{
    const size_t n = from.size() < size - 1 ? from.size() : size - 1;
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

// The names at `address` into symbolName and moduleName; left empty once a
// lookup has taken too long (and no more are tried).
__attribute__((noinline)) void lookUpNames(const void* address)
{
    static volatile sig_atomic_t givenUp = 0;
    symbolName[0] = '\0';
    moduleName[0] = '\0';
    if (givenUp != 0)
        return;
    if (sigsetjmp(lookupTimedOut, 1) != 0) {
        // Left by the watchdog from inside the lookup, whose allocations
        // are abandoned.
        lookupArmed = 0;
        givenUp = 1;
        symbolName[0] = '\0';
        moduleName[0] = '\0';
        return;
    }
    lookupArmed = 1;
    alarm(lookupSeconds);
    copyName(symbolName, sizeof(symbolName), symbolLookup(address));
    copyName(moduleName, sizeof(moduleName), moduleNameAt(address));
    alarm(0);
    lookupArmed = 0;
}

void writeBuffer(SignalSafeText& file, const WorkBuffer* buffer)
{
    if (buffer != nullptr && !buffer->empty())
        file.bytes(buffer->data(), buffer->size());
}

[[noreturn]] void leave()
{
    // Other threads keep running: skip the exit handlers and static
    // destructors, which could run into them.
    _exit(1);
}

} // namespace

void setCrashSymbolLookup(std::string (*lookup)(const void*), unsigned seconds)
{
    symbolLookup = lookup != nullptr ? lookup : symbolNameAt;
    lookupSeconds = seconds;
}

__attribute__((noinline)) void writeCrashDump(const Worker& worker, int signal)
{
    const char* name = worker.name() ? worker.name() : "";
    {
        // Not through the log's stream: its lock may be held by the
        // interrupted code.
        SignalSafeText log(logFileDescriptor());
        log.text("something bad happened, writing crash dump. signal: ").decimal(signal);
        log.text(", worker: ").text(name).text("\n");
    }

    const int fd = ::open("crash.dump", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        SignalSafeText(logFileDescriptor()).text("crash dump file couldn't be written!\n");
        leave();
    }
    SignalSafeText file(fd);
    file.text("Tavirel Crashdump\n");
    file.text("Worker: ").text(name).text("\n");
    file.text("Signal: ").decimal(signal).text("\n");
    file.text("Unixtime: ").decimal(static_cast<uint32_t>(std::time(nullptr))).text("\n");
    file.text("Compiler Version: " __VERSION__ "\n");
    file.text("Build Date: " __DATE__ " " __TIME__ "\n");
    file.text("App Version: ").text(kAppVersion).text("\n");
    file.text("\n");
    file.flush();

    void* frames[kMaxFrames];
    const int frameCount = backtrace(frames, kMaxFrames);  // frame 0 is this function
    reportingThread = pthread_self();
    struct sigaction watchdog {};
    watchdog.sa_handler = onLookupTimeout;
    sigemptyset(&watchdog.sa_mask);
    watchdog.sa_flags = SA_ONSTACK;
    sigaction(SIGALRM, &watchdog, nullptr);
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &alarmOnly, nullptr);

    file.text("--- StackTrace\n");
    for (int i = 0; i < frameCount; ++i) {
        const auto address = reinterpret_cast<uintptr_t>(frames[i]);
        // A return address points past its call; look up the call itself.
        lookUpNames(reinterpret_cast<const void*>(address > 0 ? address - 1 : address));
        file.text("#").decimal(i).text("\t0x").hex(address, 8).text(" in ");
        file.text(symbolName[0] != '\0' ? symbolName : "??").text(" ()");
        if (moduleName[0] != '\0')
            file.text(" from ").text(moduleName);
        file.text("\n");
    }
    file.flush();

    file.text("\n\n--- Worker Dump\n\n");
    file.bytes(dynamic_cast<const void*>(&worker), worker.objectSize());

    const WorkItem* item = worker.currentItem();
    file.text("\n\n--- Dump of Workload Input\n\n");
    writeBuffer(file, item ? item->input : nullptr);
    file.text("\n\n--- Dump of Workload Output\n\n");
    writeBuffer(file, item ? item->output : nullptr);
    file.text("\n\nEnd of File");
    file.flush();
    ::close(fd);
    leave();
}
