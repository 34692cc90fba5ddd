// A processing stage on a thread of its own, fed through a FIFO queue of work items.
#pragma once

#include "core/LoadStatistic.h"
#include "core/WorkBuffer.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Each stage derives from Worker and supplies process(); the code that builds
// the chain supplies the completion callback, which gets both buffers after
// process() and decides where they go next.
//
// A derived worker's destructor must call stop() first: the thread calls
// process(), which must not outlive the derived object.
class Worker {
public:
    using DoneCallback = std::function<void(WorkBuffer* input, WorkBuffer* output)>;

    explicit Worker(DoneCallback onDone);
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Size in bytes of the complete (most derived) object, for the crash report.
    virtual size_t objectSize() const = 0;
    // Stops the thread if it still runs; items still queued are dropped
    // without returning their buffers to the pool.
    virtual ~Worker();
    // The stage's work on one item, on the worker thread.
    virtual void process(WorkBuffer* input, WorkBuffer* output) = 0;

    // Starts the thread; a second call only logs that it was already started.
    void start();
    // Appends an item; never blocks beyond the queue mutex, never drops.
    void enqueue(WorkBuffer* input, WorkBuffer* output);
    // Lets the thread finish the item in hand and joins it; the rest of the
    // queue stays unprocessed. Does nothing if never started or already joined.
    void stop();

    // Sum of the last 31 load figures (percent); divide by 32 for display.
    int32_t loadSum() const { return load.sum.load(std::memory_order_relaxed); }
    // CPU time the worker's thread has used so far (processing and
    // completion), in nanoseconds; updated after every item.
    int64_t cpuNanoseconds() const { return cpuTime.load(std::memory_order_relaxed); }
    // Items waiting in the queue.
    size_t queuedCount() const;
    // True once stop() has been asked for.
    bool stopRequested() const { return !running; }

    // Length-prefixed class name ("14BasebandWorker"); null until the thread runs.
    const char* name() const { return threadName; }
    // The class name alone ("BasebandWorker"), at any time.
    std::string className() const;
    // The item being processed, as seen by the worker thread.
    const WorkItem* currentItem() const { return current; }
    // Address of the thread object, shown in the thread log lines.
    const void* threadAddress() const { return &thread; }

    // The worker whose process() is running on the calling thread, or null.
    static Worker* workerInProcess();

private:
    void threadBody();

    const char* threadName = nullptr;
    WorkItem* current = nullptr;
    DoneCallback onDone;
    LoadStatistic load;
    std::atomic<int64_t> cpuTime{0};
    std::deque<WorkItem> queue;
    std::condition_variable queueCondition;
    mutable std::mutex queueMutex;
    std::thread thread;
    std::atomic<bool> running{true};

    std::string displayName;      // set by start(), before the thread exists
    std::thread::id startedId;    // id of the thread start() created
    bool started = false;
};

// The compiler's name for a class in the global namespace, built for any
// class: decimal length of the unqualified name, then the name.
std::string lengthPrefixedName(const std::type_info& type);
// The class name without namespace or length prefix.
std::string plainClassName(const std::type_info& type);
