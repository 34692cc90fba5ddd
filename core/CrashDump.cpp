#include "core/CrashDump.h"

#include "core/Log.h"
#include "core/StackSymbols.h"
#include "core/Version.h"
#include "core/Worker.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <execinfo.h>
#include <unistd.h>

namespace {

constexpr int kMaxFrames = 128;

void writeBuffer(FILE* file, const WorkBuffer* buffer)
{
    if (buffer != nullptr && !buffer->empty())
        std::fwrite(buffer->data(), 1, buffer->size(), file);
}

[[noreturn]] void leave()
{
    logStream().flush();
    std::fflush(stdout);
    // Other threads keep running: skip the exit handlers and static
    // destructors, which could run into them.
    _exit(1);
}

} // namespace

__attribute__((noinline)) void writeCrashDump(const Worker& worker, int signal)
{
    // Straight to the stream: the log lock may be held by the interrupted code.
    logStream() << "something bad happened, writing crash dump. signal: " << signal
              << ", worker: " << (worker.name() ? worker.name() : "") << std::endl;

    FILE* file = std::fopen("crash.dump", "wb");
    if (file == nullptr) {
        logStream() << "crash dump file couldn't be written!" << std::endl;
        leave();
    }

    std::fprintf(file, "Tavirel Crashdump\n");
    std::fprintf(file, "Worker: %s\n", worker.name() ? worker.name() : "");
    std::fprintf(file, "Signal: %i\n", signal);
    std::fprintf(file, "Unixtime: %lu\n", static_cast<unsigned long>(static_cast<uint32_t>(std::time(nullptr))));
    std::fprintf(file, "Compiler Version: %s\n", __VERSION__);
    std::fprintf(file, "Build Date: %s %s\n", __DATE__, __TIME__);
    std::fprintf(file, "App Version: %s\n", kAppVersion);
    std::fprintf(file, "\n");
    std::fflush(file);

    void* frames[kMaxFrames];
    const int frameCount = backtrace(frames, kMaxFrames);  // frame 0 is this function
    std::fprintf(file, "--- StackTrace\n");
    for (long i = 0; i < frameCount; ++i) {
        const auto address = reinterpret_cast<uintptr_t>(frames[i]);
        // A return address points past its call; look up the call itself.
        const void* lookup = reinterpret_cast<const void*>(address > 0 ? address - 1 : address);
        const std::string symbol = symbolNameAt(lookup);
        const std::string module = moduleNameAt(lookup);
        std::fprintf(file, "#%li\t0x%08llx in ", i, static_cast<unsigned long long>(address));
        if (symbol.empty())
            std::fputs("??", file);
        else
            std::fwrite(symbol.data(), 1, symbol.size(), file);
        std::fputs(" ()", file);
        if (!module.empty())
            std::fprintf(file, " from %s", module.c_str());
        std::fputs("\n", file);
    }
    std::fflush(file);

    std::fprintf(file, "\n\n--- Worker Dump\n\n");
    std::fwrite(dynamic_cast<const void*>(&worker), 1, worker.objectSize(), file);
    std::fflush(file);

    const WorkItem* item = worker.currentItem();
    std::fprintf(file, "\n\n--- Dump of Workload Input\n\n");
    writeBuffer(file, item ? item->input : nullptr);
    std::fflush(file);
    std::fprintf(file, "\n\n--- Dump of Workload Output\n\n");
    writeBuffer(file, item ? item->output : nullptr);
    std::fprintf(file, "\n\nEnd of File");
    std::fclose(file);
    leave();
}
