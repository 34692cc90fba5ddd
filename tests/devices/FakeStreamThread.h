// The receive thread of a stand-in vendor library: started by the library's
// start call, it delivers its transfers through the device's callback, then
// streams nothing more until the library's stop call ends and joins it.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class FakeStreamThread {
public:
    // Returns whether the thread should stop early (between transfers).
    using StopRequested = std::function<bool()>;

    FakeStreamThread() = default;
    ~FakeStreamThread() { stop(); }
    FakeStreamThread(const FakeStreamThread&) = delete;
    FakeStreamThread& operator=(const FakeStreamThread&) = delete;

    void start(std::function<void(const StopRequested&)> deliver)
    {
        stop();
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopRequested = false;
            isRunning = true;
            isDelivered = false;
        }
        thread = std::thread([this, deliver = std::move(deliver)] {
            deliver([this] {
                std::lock_guard<std::mutex> lock(mutex);
                return stopRequested;
            });
            std::unique_lock<std::mutex> lock(mutex);
            isDelivered = true;
            wake.wait(lock, [this] { return stopRequested; });
        });
    }

    // Ends the thread and joins it; nothing happens when it is not running.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopRequested = true;
        }
        wake.notify_all();
        if (thread.joinable())
            thread.join();
        std::lock_guard<std::mutex> lock(mutex);
        isRunning = false;
    }

    // Between start() and the end of stop().
    bool running() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return isRunning;
    }
    // Every transfer of the last start() has been handed over.
    bool delivered() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return isDelivered;
    }

private:
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopRequested = false;
    bool isRunning = false;
    bool isDelivered = false;
    std::thread thread;
};
