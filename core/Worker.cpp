#include "core/Worker.h"

#include "core/FatalSignals.h"
#include "core/Log.h"

#include <chrono>
#include <ctime>
#include <cxxabi.h>
#include <cstdlib>
#include <memory>

namespace {

thread_local Worker* threadWorker = nullptr;
thread_local bool threadInProcess = false;

uint64_t timeCounter()
{
    return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

// The unqualified part of a demangled class name: what follows the last "::"
// outside template arguments.
std::string unqualified(const std::string& name)
{
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '<' || c == '(')
            ++depth;
        else if (c == '>' || c == ')')
            --depth;
        else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':')
            start = i + 2;
    }
    return name.substr(start);
}

} // namespace

std::string plainClassName(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
    return unqualified(status == 0 ? demangled.get() : type.name());
}

std::string lengthPrefixedName(const std::type_info& type)
{
    const std::string name = plainClassName(type);
    return std::to_string(name.size()) + name;
}

std::string Worker::className() const
{
    return plainClassName(typeid(*this));
}

Worker::Worker(DoneCallback onDone)
    : onDone(std::move(onDone))
{
}

Worker::~Worker()
{
    stop();
}

Worker* Worker::workerInProcess()
{
    return threadInProcess ? threadWorker : nullptr;
}

void Worker::start()
{
    if (started) {
        LogLine() << "Worker thread has already been started (" << startedId << ")";
        return;
    }
    started = true;
    displayName = lengthPrefixedName(typeid(*this));
    TerminationSignalsBlocked blocked;  // inherited by the new thread
    thread = std::thread(&Worker::threadBody, this);
    startedId = thread.get_id();
}

void Worker::enqueue(WorkBuffer* input, WorkBuffer* output)
{
    std::lock_guard<std::mutex> lock(queueMutex);
    queue.push_back(WorkItem{input, output});
    queueCondition.notify_all();
}

void Worker::stop()
{
    // Joinable only once started and until joined; never join from the
    // worker's own thread (it leaves after the item in hand).
    const bool join = thread.joinable() && thread.get_id() != std::this_thread::get_id();
    // Logged before the wake-up, so it always precedes the thread's last line.
    if (join)
        LogLine() << "Waiting for worker thread to finish: " << displayName
                  << ", thread: " << thread.get_id() << ")";
    {
        // Under the queue mutex, so a thread about to wait cannot miss it.
        std::lock_guard<std::mutex> lock(queueMutex);
        running = false;
        queueCondition.notify_one();
    }
    if (join)
        thread.join();
}

size_t Worker::queuedCount() const
{
    std::lock_guard<std::mutex> lock(queueMutex);
    return queue.size();
}

void Worker::threadBody()
{
    threadWorker = this;
    threadName = displayName.c_str();
    installFatalSignalHandlers();
    LogLine() << "Worker thread started: " << threadName << ", thread: " << std::this_thread::get_id()
              << ", thread addr: " << threadAddress() << ")";
    // `running` is true from construction; setting it again here would undo a
    // stop() that came before the thread was up.

    uint64_t waitStart = 0;
    uint64_t waitEnd = 0;
    while (running) {
        std::unique_lock<std::mutex> lock(queueMutex);
        if (queue.empty()) {
            waitStart = timeCounter();
            queueCondition.wait(lock, [this] { return !running || !queue.empty(); });
            waitEnd = timeCounter();
        }
        if (!running)
            break;
        WorkItem item = queue.front();
        queue.pop_front();
        lock.unlock();

        current = &item;
        threadInProcess = true;
        process(item.input, item.output);
        threadInProcess = false;
        onDone(item.input, item.output);
        current = nullptr;

        load.add(loadPercent(waitStart, waitEnd, timeCounter()));
        timespec cpu{};
        if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu) == 0)
            cpuTime.store(int64_t(cpu.tv_sec) * 1000000000 + cpu.tv_nsec, std::memory_order_relaxed);
    }

    LogLine() << "Worker thread stopped: " << threadName << ", thread: " << std::this_thread::get_id()
              << ")";
    releaseSignalStack();
    threadWorker = nullptr;
}
