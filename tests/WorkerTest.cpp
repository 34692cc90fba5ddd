#include "core/Worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Records what it processes; can hold the thread inside process() until released.
class RecordingWorker : public Worker {
public:
    using Worker::Worker;
    // Stops like every worker; a held item is let go only once the stop is
    // under way, so nothing after it gets processed.
    ~RecordingWorker() override
    {
        std::thread opener([this] {
            while (!stopRequested())
                std::this_thread::yield();
            open();
        });
        stop();
        opener.join();
    }
    size_t objectSize() const override { return sizeof(*this); }

    void process(WorkBuffer* input, WorkBuffer* output) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        seen.push_back({input, output});
        threadId = std::this_thread::get_id();
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        terminationBlocked = sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1;
        changed.notify_all();
        changed.wait(lock, [this] { return !holding; });
        if (busyFor.count() > 0) {
            lock.unlock();
            std::this_thread::sleep_for(busyFor);
        }
    }

    void hold() { std::lock_guard<std::mutex> lock(mutex); holding = true; }
    void open()
    {
        std::lock_guard<std::mutex> lock(mutex);
        holding = false;
        changed.notify_all();
    }
    // Waits until process() has been entered `count` times.
    bool waitSeen(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return seen.size() >= count; });
    }
    std::vector<WorkItem> seenItems()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<WorkItem> seen;
    std::thread::id threadId;
    bool terminationBlocked = false;
    bool holding = false;
    std::chrono::milliseconds busyFor{0};
};

namespace {

// Collects completion calls, checking they come after process().
struct Completions {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<WorkItem> items;

    Worker::DoneCallback callback()
    {
        return [this](WorkBuffer* in, WorkBuffer* out) {
            std::lock_guard<std::mutex> lock(mutex);
            items.push_back({in, out});
            changed.notify_all();
        };
    }
    bool waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return items.size() >= count; });
    }
};

WorkBuffer* fakeBuffer(uintptr_t n) { return reinterpret_cast<WorkBuffer*>(n * 64); }

std::string idText(std::thread::id id)
{
    std::ostringstream s;
    s << id;
    return s.str();
}

} // namespace

TEST(Worker, ProcessesItemsInOrderAndHandsBothBuffersOn)
{
    Completions done;
    RecordingWorker worker(done.callback());
    for (uintptr_t i = 1; i <= 100; ++i)
        worker.enqueue(fakeBuffer(i), i % 3 ? fakeBuffer(1000 + i) : nullptr);
    worker.start();
    ASSERT_TRUE(done.waitFor(100));
    worker.stop();

    const auto seen = worker.seenItems();
    ASSERT_EQ(seen.size(), 100u);
    for (uintptr_t i = 1; i <= 100; ++i) {
        EXPECT_EQ(seen[i - 1].input, fakeBuffer(i));
        EXPECT_EQ(seen[i - 1].output, i % 3 ? fakeBuffer(1000 + i) : nullptr);
        EXPECT_EQ(done.items[i - 1].input, seen[i - 1].input);
        EXPECT_EQ(done.items[i - 1].output, seen[i - 1].output);
    }
}

TEST(Worker, ItemsFromSeveralProducersKeepTheirOrder)
{
    Completions done;
    RecordingWorker worker(done.callback());
    worker.start();
    constexpr uintptr_t kPerProducer = 2000;
    std::vector<std::thread> producers;
    for (uintptr_t p = 0; p < 3; ++p)
        producers.emplace_back([&worker, p] {
            for (uintptr_t i = 0; i < kPerProducer; ++i)
                worker.enqueue(fakeBuffer(p * kPerProducer + i + 1), fakeBuffer(p + 1));
        });
    for (auto& t : producers)
        t.join();
    ASSERT_TRUE(done.waitFor(3 * kPerProducer));
    worker.stop();

    std::vector<uintptr_t> last(3, 0);
    for (const WorkItem& item : worker.seenItems()) {
        const uintptr_t p = reinterpret_cast<uintptr_t>(item.output) / 64 - 1;
        const uintptr_t n = reinterpret_cast<uintptr_t>(item.input) / 64;
        ASSERT_LT(p, 3u);
        EXPECT_GT(n, last[p]) << "producer " << p << " out of order";
        last[p] = n;
    }
}

TEST(Worker, StartAndStopLogTheirLines)
{
    CaptureStdout();
    std::string startedLine;
    std::thread::id id;
    const void* threadAddress;
    {
        Completions done;
        RecordingWorker worker(done.callback());
        threadAddress = worker.threadAddress();
        worker.start();
        worker.enqueue(fakeBuffer(1), nullptr);
        ASSERT_TRUE(done.waitFor(1));
        id = worker.threadId;
        EXPECT_STREQ(worker.name(), "15RecordingWorker");
        worker.stop();   // idle: waiting on the empty queue
        worker.stop();   // already joined: silent
    }
    const std::string out = GetCapturedStdout();
    std::ostringstream address;
    address << threadAddress;
    const std::string tid = idText(id);
    EXPECT_EQ(out, "Worker thread started: 15RecordingWorker, thread: " + tid + ", thread addr: " +
                       address.str() + ")\n"
                   "Waiting for worker thread to finish: 15RecordingWorker, thread: " + tid + ")\n"
                   "Worker thread stopped: 15RecordingWorker, thread: " + tid + ")\n");
}

TEST(Worker, StopWithoutStartIsSilentAndImmediate)
{
    CaptureStdout();
    {
        RecordingWorker worker([](WorkBuffer*, WorkBuffer*) {});
        worker.enqueue(fakeBuffer(1), fakeBuffer(2));
        worker.stop();
        worker.stop();
        EXPECT_TRUE(worker.seenItems().empty());
        EXPECT_EQ(worker.queuedCount(), 1u);
    }   // destroyed with an item queued
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(Worker, SecondStartOnlyReportsTheRunningThread)
{
    Completions done;
    RecordingWorker worker(done.callback());
    worker.start();
    worker.enqueue(fakeBuffer(1), nullptr);
    ASSERT_TRUE(done.waitFor(1));
    CaptureStdout();
    worker.start();
    EXPECT_EQ(GetCapturedStdout(),
              "Worker thread has already been started (" + idText(worker.threadId) + ")\n");
    worker.enqueue(fakeBuffer(2), nullptr);
    ASSERT_TRUE(done.waitFor(2));
    EXPECT_EQ(worker.seenItems().size(), 2u) << "still one thread serving the queue";
}

TEST(Worker, StopLeavesQueuedItemsUnprocessed)
{
    Completions done;
    RecordingWorker worker(done.callback());
    worker.hold();
    worker.start();
    for (uintptr_t i = 1; i <= 6; ++i)
        worker.enqueue(fakeBuffer(i), nullptr);
    ASSERT_TRUE(worker.waitSeen(1));

    std::thread stopper([&worker] { worker.stop(); });
    while (!worker.stopRequested())
        std::this_thread::yield();
    worker.open();   // let the item in hand finish
    stopper.join();

    EXPECT_EQ(worker.seenItems().size(), 1u);
    EXPECT_EQ(done.items.size(), 1u);
    EXPECT_EQ(worker.queuedCount(), 5u);
}

// A stop right after the start, before the thread has run, still ends it:
// the stop returns at once, and the thread takes nothing queued after it.
TEST(Worker, StopBeforeTheThreadIsUpIsNotLost)
{
    for (int i = 0; i < 50; ++i) {
        Completions done;
        RecordingWorker worker(done.callback());
        worker.start();
        const auto before = std::chrono::steady_clock::now();
        worker.stop();   // would hang if the thread re-armed itself after this
        EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
        EXPECT_TRUE(worker.stopRequested());
        worker.enqueue(fakeBuffer(1), nullptr);
        std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(worker.seenItems().empty());
        EXPECT_EQ(worker.queuedCount(), 1u);
    }
}

TEST(Worker, DestructionWhileProcessingWithItemsQueued)
{
    Completions done;
    auto worker = std::make_unique<RecordingWorker>(done.callback());
    worker->hold();
    worker->start();
    for (uintptr_t i = 1; i <= 10; ++i)
        worker->enqueue(fakeBuffer(i), nullptr);
    ASSERT_TRUE(worker->waitSeen(1));
    worker.reset();
    EXPECT_LE(done.items.size(), 1u);
}

TEST(Worker, FirstItemBeforeAnyWaitCountsAsFullLoad)
{
    Completions done;
    RecordingWorker worker(done.callback());
    worker.enqueue(fakeBuffer(1), nullptr);   // queued before the thread runs
    EXPECT_EQ(worker.loadSum(), 0);
    worker.start();
    ASSERT_TRUE(done.waitFor(1));
    worker.stop();
    EXPECT_EQ(worker.loadSum(), 100);
}

// The load follows the share of time spent working: items that keep the
// thread busy four times as long as it then waits give a higher load than
// items that keep it busy a quarter as long. (Compared with each other, not
// with fixed bounds: on a loaded machine every sleep runs long.)
TEST(Worker, LoadFollowsBusyAndIdleTime)
{
    auto load = [](std::chrono::milliseconds busy, std::chrono::milliseconds idle) {
        Completions done;
        RecordingWorker worker(done.callback());
        worker.busyFor = busy;
        worker.start();
        std::this_thread::sleep_for(idle);
        constexpr int kItems = 6;
        for (int i = 1; i <= kItems; ++i) {
            worker.enqueue(fakeBuffer(uintptr_t(i)), nullptr);
            EXPECT_TRUE(done.waitFor(size_t(i)));
            std::this_thread::sleep_for(idle);
        }
        worker.stop();
        return worker.loadSum() / kItems;
    };
    const int mostlyBusy = load(80ms, 20ms);
    const int mostlyIdle = load(20ms, 80ms);
    EXPECT_GT(mostlyBusy, mostlyIdle);
    EXPECT_GT(mostlyBusy, 50);
    EXPECT_LT(mostlyIdle, 50);
}

TEST(Worker, TerminationSignalsAreBlockedOnWorkerThreads)
{
    Completions done;
    RecordingWorker worker(done.callback());
    worker.start();
    worker.enqueue(fakeBuffer(1), nullptr);
    ASSERT_TRUE(done.waitFor(1));
    EXPECT_TRUE(worker.terminationBlocked);

    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGTERM), 0) << "the starting thread's mask is restored";
    struct sigaction action {};
    sigaction(SIGTERM, nullptr, &action);
    EXPECT_EQ(action.sa_handler, SIG_DFL) << "no handler takes SIGTERM from the main thread";
}

namespace stages {
class Holder {
public:
    class InnerWorker {};
};
} // namespace stages
class GlobalWorker {};
template <typename T>
class Box {};

TEST(Worker, DisplayNameIsTheLengthPrefixedClassName)
{
    EXPECT_EQ(lengthPrefixedName(typeid(GlobalWorker)), "12GlobalWorker");
    EXPECT_EQ(lengthPrefixedName(typeid(stages::Holder::InnerWorker)), "11InnerWorker");
    EXPECT_EQ(lengthPrefixedName(typeid(Box<int>)), "8Box<int>");
}
