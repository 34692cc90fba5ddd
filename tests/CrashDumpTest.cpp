#include "core/CrashDump.h"
#include "core/StackSymbols.h"
#include "core/Version.h"
#include "core/Worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

enum class Fault { Segv, Abort, Term, SegvInCallback };

// A worker whose process() fails in the way it is told to.
class CrashingWorker : public Worker {
public:
    CrashingWorker(Fault fault, DoneCallback done)
        : Worker(std::move(done)), fault(fault)
    {
    }
    ~CrashingWorker() override { stop(); }
    size_t objectSize() const override { return sizeof(*this); }
    void process(WorkBuffer*, WorkBuffer*) override
    {
        switch (fault) {
        case Fault::Segv: std::raise(SIGSEGV); break;
        case Fault::Abort: std::abort();
        case Fault::Term:
            // Keep busy inside process() while the process gets SIGTERM.
            kill(getpid(), SIGTERM);
            std::this_thread::sleep_for(std::chrono::seconds(10));
            break;
        case Fault::SegvInCallback: break;
        }
        ++itemsDone;   // keeps process() on the stack below raise()
    }

    volatile int itemsDone = 0;
    char marker[16] = "crash-marker-01";
    Fault fault;
};

namespace {

// A fresh folder for one test; the death-test child finds it by the same name.
fs::path freshFolder(const std::string& name)
{
    const fs::path dir = fs::path(testing::TempDir()) / ("tavirel-crash-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

WorkBuffer patterned(size_t size, uint8_t seed)
{
    WorkBuffer b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = uint8_t(seed + i * 7);
    return b;
}

// Runs in the child: the worker crashes on its first item and never returns.
[[noreturn]] void crashInWorker(const fs::path& dir, Fault fault, WorkBuffer* input, WorkBuffer* output)
{
    dup2(STDERR_FILENO, STDOUT_FILENO);   // let the death-test matcher see the log
    if (chdir(dir.c_str()) != 0)
        std::_Exit(3);
    // Only reached when process() returns: a fault outside process().
    auto* worker = new CrashingWorker(fault, [](WorkBuffer*, WorkBuffer*) { std::raise(SIGSEGV); });
    worker->start();
    worker->enqueue(input, output);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    std::_Exit(4);
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Takes `expected` off the front of `rest`, or fails.
void expectPrefix(std::string& rest, const std::string& expected, const char* what)
{
    ASSERT_GE(rest.size(), expected.size()) << what;
    ASSERT_EQ(rest.substr(0, expected.size()), expected) << what;
    rest.erase(0, expected.size());
}

std::string takeLine(std::string& rest)
{
    const size_t nl = rest.find('\n');
    std::string line = rest.substr(0, nl);
    rest.erase(0, nl == std::string::npos ? rest.size() : nl + 1);
    return line;
}

// Checks every part of a dump and returns the symbol names of its stack trace.
std::vector<std::string> checkDump(const std::string& dump, int signal, const WorkBuffer& input,
                                   const WorkBuffer* output, std::time_t before)
{
    std::string rest = dump;
    std::vector<std::string> symbols;
    EXPECT_EQ(takeLine(rest), "Tavirel Crashdump");
    EXPECT_EQ(takeLine(rest), "Worker: 14CrashingWorker");
    EXPECT_EQ(takeLine(rest), "Signal: " + std::to_string(signal));
    const std::string unixtime = takeLine(rest);
    EXPECT_TRUE(std::regex_match(unixtime, std::regex("Unixtime: [0-9]+"))) << unixtime;
    const long stamp = std::atol(unixtime.c_str() + 10);
    EXPECT_GE(stamp, long(before));
    EXPECT_LE(stamp, long(std::time(nullptr)));
    EXPECT_EQ(takeLine(rest), std::string("Compiler Version: ") + __VERSION__);
    const std::string buildDate = takeLine(rest);
    EXPECT_TRUE(std::regex_match(buildDate, std::regex("Build Date: [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} "
                                                       "[0-9]{2}:[0-9]{2}:[0-9]{2}")))
        << buildDate;
    EXPECT_EQ(takeLine(rest), std::string("App Version: ") + kAppVersion);
    EXPECT_EQ(takeLine(rest), "");
    EXPECT_EQ(takeLine(rest), "--- StackTrace");

    const std::regex frame("#([0-9]+)\t0x[0-9a-f]{8,} in (.+) \\(\\)( from [^/]+)?");
    for (long n = 0; !rest.empty() && rest[0] == '#'; ++n) {
        const std::string line = takeLine(rest);
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, frame)) << line;
        EXPECT_EQ(std::atol(m[1].str().c_str()), n) << line;
        symbols.push_back(m[2]);
    }
    EXPECT_GE(symbols.size(), 3u);
    EXPECT_LE(symbols.size(), 128u);

    expectPrefix(rest, "\n\n--- Worker Dump\n\n", "worker section");
    const size_t size = sizeof(CrashingWorker);
    EXPECT_GE(rest.size(), size);
    const std::string workerBytes = rest.substr(0, size);
    rest.erase(0, size);
    const CrashingWorker probe(Fault::Segv, nullptr);
    const size_t markerAt = size_t(probe.marker - reinterpret_cast<const char*>(&probe));
    EXPECT_EQ(workerBytes.substr(markerAt, 15), "crash-marker-01");

    expectPrefix(rest, "\n\n--- Dump of Workload Input\n\n", "input section");
    expectPrefix(rest, std::string(input.begin(), input.end()), "input bytes");
    expectPrefix(rest, "\n\n--- Dump of Workload Output\n\n", "output section");
    if (output != nullptr)
        expectPrefix(rest, std::string(output->begin(), output->end()), "output bytes");
    EXPECT_EQ(rest, "\n\nEnd of File");
    return symbols;
}

bool contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

TEST(CrashDump, SegmentationFaultInProcessWritesTheFullReport)
{
    const fs::path dir = freshFolder("segv");
    WorkBuffer input = patterned(1000, 3);
    WorkBuffer output = patterned(37, 200);
    const std::time_t before = std::time(nullptr);
    EXPECT_EXIT(crashInWorker(dir, Fault::Segv, &input, &output), testing::ExitedWithCode(1),
                "Worker '14CrashingWorker' received signal 11, thread addr: 0x.*\n"
                "something bad happened, writing crash dump. signal: 11, worker: 14CrashingWorker\n");
    const auto symbols = checkDump(readFile(dir / "crash.dump"), SIGSEGV, input, &output, before);
    // Frame 0 is the dump routine, unless a sanitizer runtime wraps the
    // stack capture and adds a frame of its own.
    const auto dumpFrame = std::find(symbols.begin(), symbols.end(), "writeCrashDump");
    ASSERT_NE(dumpFrame, symbols.end());
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    EXPECT_LE(dumpFrame - symbols.begin(), 1);
#else
    EXPECT_EQ(dumpFrame, symbols.begin());
#endif
    EXPECT_TRUE(contains(symbols, "CrashingWorker::process"));
    EXPECT_TRUE(contains(symbols, "Worker::threadBody"));
}

// A fault inside the allocator can leave its lock held, and the names of the
// stack trace need allocations: a lookup that never returns costs its frame
// and the rest their names, not the report.
TEST(CrashDump, AStackLookupThatHangsLeavesTheRestOfTheReport)
{
    const fs::path dir = freshFolder("hanging-lookup");
    WorkBuffer input = patterned(300, 5);
    WorkBuffer output = patterned(20, 70);
    const std::time_t before = std::time(nullptr);
    EXPECT_EXIT(
        {
            int calls = 0;
            static int* counter = &calls;
            setCrashSymbolLookup(
                [](const void* address) -> std::string {
                    if (++*counter < 3)   // the first two frames are named
                        return symbolNameAt(address);
                    for (;;)
                        pause();
                },
                1);
            crashInWorker(dir, Fault::Segv, &input, &output);
        },
        testing::ExitedWithCode(1), "writing crash dump");
    const auto symbols = checkDump(readFile(dir / "crash.dump"), SIGSEGV, input, &output, before);
    ASSERT_GE(symbols.size(), 4u);
    // The dump routine is frame 0 (1 where a sanitizer adds its own).
    EXPECT_TRUE(symbols[0] == "writeCrashDump" || symbols[1] == "writeCrashDump") << symbols[0] << ", " << symbols[1];
    for (size_t k = 2; k < symbols.size(); ++k)
        EXPECT_EQ(symbols[k], "??") << "frame " << k;
}

TEST(CrashDump, AbortWithNullOutputAndEmptyInput)
{
    const fs::path dir = freshFolder("abort");
    WorkBuffer input;   // empty: the input header is directly followed by the output header
    const std::time_t before = std::time(nullptr);
    EXPECT_EXIT(crashInWorker(dir, Fault::Abort, &input, nullptr), testing::ExitedWithCode(1),
                "received signal 6");
    const auto symbols = checkDump(readFile(dir / "crash.dump"), SIGABRT, input, nullptr, before);
    EXPECT_TRUE(contains(symbols, "abort"));
}

TEST(CrashDump, NullInputGivesAnEmptySection)
{
    const fs::path dir = freshFolder("null-input");
    WorkBuffer output = patterned(64, 9);
    const std::time_t before = std::time(nullptr);
    EXPECT_EXIT(crashInWorker(dir, Fault::Segv, nullptr, &output), testing::ExitedWithCode(1), "");
    checkDump(readFile(dir / "crash.dump"), SIGSEGV, WorkBuffer(), &output, before);
}

TEST(CrashDump, UnwritableFileStillEndsWithCodeOne)
{
    const fs::path dir = freshFolder("unwritable");
    const fs::path gone = dir / "gone";
    EXPECT_EXIT(
        {
            // A working directory that no longer exists: the file cannot be created.
            fs::create_directories(gone);
            if (chdir(gone.c_str()) != 0)
                std::_Exit(3);
            fs::remove(gone);
            WorkBuffer input(8);
            crashInWorker(".", Fault::Segv, &input, nullptr);
        },
        testing::ExitedWithCode(1), "crash dump file couldn't be written!\n");
    EXPECT_FALSE(fs::exists(dir / "crash.dump"));
}

TEST(CrashDump, FaultOutsideProcessTakesTheDefaultAction)
{
    const fs::path dir = freshFolder("callback");
    WorkBuffer input(8);
    EXPECT_EXIT(crashInWorker(dir, Fault::SegvInCallback, &input, nullptr),
                testing::KilledBySignal(SIGSEGV), "");
    EXPECT_FALSE(fs::exists(dir / "crash.dump"));
}

TEST(CrashDump, TerminationSignalWhileWorkersRunWritesNoDump)
{
    const fs::path dir = freshFolder("term");
    WorkBuffer input(8);
    EXPECT_EXIT(crashInWorker(dir, Fault::Term, &input, nullptr), testing::KilledBySignal(SIGTERM), "");
    EXPECT_FALSE(fs::exists(dir / "crash.dump"));
}
