#include "devices/pluto/PlutoSDRDevice.h"

#include "core/Log.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

namespace {

constexpr size_t kHalfValues = 2 * PlutoSDRDevice::kBufferSamples;   // int16 I, Q
constexpr size_t kHalfBytes = kHalfValues * sizeof(int16_t);         // 524288
// After a failed refill: a lost device fails at once, so do not spin on it.
constexpr auto kRefillRetryPause = std::chrono::milliseconds(20);

// A thread of its own that runs one job at a time while the caller does
// something else: the refill of one half while the other is converted,
// without a thread started for every refill.
class OverlappedJob {
public:
    OverlappedJob() : thread([this] { loop(); }) {}
    ~OverlappedJob()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quit = true;
        }
        changed.notify_all();
        thread.join();
    }
    OverlappedJob(const OverlappedJob&) = delete;
    OverlappedJob& operator=(const OverlappedJob&) = delete;

    void start(std::function<void()> next)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            job = std::move(next);
        }
        changed.notify_all();
    }
    void wait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return !job; });
    }

private:
    void loop()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return quit || job; });
            if (!job)
                return;   // quitting with nothing to do
            std::function<void()> running = job;
            lock.unlock();
            running();
            lock.lock();
            job = nullptr;
            changed.notify_all();
        }
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> job;   // the job running or to run; empty when done
    bool quit = false;
    std::thread thread;
};

int16_t limited(int64_t value)
{
    return int16_t(std::clamp<int64_t>(value, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

} // namespace

PlutoSDRDevice::PlutoSDRDevice(const IioLibrary& library, iio_context* ctx) : lib(library), context(ctx)
{
    digitalGain.store(gain);
}

PlutoSDRDevice::~PlutoSDRDevice()
{
    close();
    if (context != nullptr)
        lib.context_destroy(context);
}

std::vector<uint64_t> PlutoSDRDevice::getSampleRates()
{
    return {5000000, 6000000, 7000000, 8000000, 10000000, 12500000, 20000000, 2500000, 2000000, 1000000};
}

void PlutoSDRDevice::writeAttribute(const char* channel, bool output, const char* attribute, long long value)
{
    if (iio_channel* c = lib.device_find_channel(phy, channel, output))
        lib.channel_attr_write_longlong(c, attribute, value);
}

bool PlutoSDRDevice::open(SampleCallback& callback)
{
    if (phy != nullptr)
        close();
    if (context == nullptr)
        return true;
    phy = lib.context_find_device(context, "ad9361-phy");
    if (phy == nullptr)
        return true;
    writeAttribute("altvoltage0", true, "frequency", (long long)frequency);
    // Always the first listed rate.
    setSampleRateIndex(0);
    samples = &callback;
    stopping.store(false);
    worker = std::thread(&PlutoSDRDevice::bufferLoop, this);
    return false;
}

size_t PlutoSDRDevice::refillInto(iio_buffer* buffer, int16_t* half)
{
    const ssize_t bytes = lib.buffer_refill(buffer);
    if (bytes < 0) {
        std::this_thread::sleep_for(kRefillRetryPause);
        return 0;
    }
    const size_t pairs = std::min(size_t(bytes), kHalfBytes) / (2 * sizeof(int16_t));
    std::memcpy(half, lib.buffer_start(buffer), pairs * 2 * sizeof(int16_t));
    return pairs;
}

void PlutoSDRDevice::convertAndDeliver(const int16_t* half, size_t count, std::vector<int16_t>& converted)
{
    if (count == 0)
        return;
    // Any int gain: 64 bits hold every product. C++ division truncates toward zero.
    const int64_t factor = digitalGain.load();
    for (size_t k = 0; k < 2 * count; ++k)
        converted[k] = limited(half[k] * factor / 16);
    deliver(*samples, converted.data(), count);
}

void PlutoSDRDevice::bufferLoop()
{
    iio_device* rx = lib.context_find_device(context, "cf-ad9361-lpc");
    if (rx == nullptr) {
        LogLine() << "can't find plutosdr device cf-ad9361-lpc";
        return;
    }
    for (const char* name : {"voltage0", "voltage1"})
        if (iio_channel* channel = lib.device_find_channel(rx, name, false))
            lib.channel_enable(channel);
    iio_buffer* buffer = lib.device_create_buffer(rx, kBufferSamples, false);
    if (buffer == nullptr) {
        LogLine() << "PlutoSDRDevice: error creating the libiio device buffer.";
        return;
    }

    // Two halves: one converted while the other is refilled.
    std::vector<int16_t> block(2 * kHalfValues), converted(kHalfValues);
    size_t pairs[2] = {refillInto(buffer, block.data()), 0};
    int current = 0;
    {
        OverlappedJob refill;
        while (!stopping.load()) {
            const int next = 1 - current;
            refill.start([&, next] { pairs[next] = refillInto(buffer, block.data() + next * kHalfValues); });
            convertAndDeliver(block.data() + current * kHalfValues, pairs[current], converted);
            refill.wait();
            current = next;
        }
    }
    lib.buffer_destroy(buffer);
}

void PlutoSDRDevice::setSampleRateIndex(unsigned index)
{
    InputDevice::setSampleRateIndex(index);
    if (phy != nullptr)
        writeAttribute("voltage0", false, "sampling_frequency", (long long)sampleRate);
}

void PlutoSDRDevice::setFrequency(uint64_t hz)
{
    InputDevice::setFrequency(hz);
    if (phy != nullptr)
        writeAttribute("altvoltage0", true, "frequency", (long long)hz);
}

void PlutoSDRDevice::setFilterBandwidth(uint64_t hz)
{
    InputDevice::setFilterBandwidth(hz);
    if (phy == nullptr)
        return;
    LogLine() << "PlutoSDRDevice::setFilterBandwidth(" << hz << ")";
    writeAttribute("voltage0", false, "rf_bandwidth", (long long)hz);
}

void PlutoSDRDevice::setGain(int value)
{
    InputDevice::setGain(value);
    digitalGain.store(value);
}

void PlutoSDRDevice::close()
{
    if (phy == nullptr)
        return;
    stopping.store(true);
    if (worker.joinable())
        worker.join();
    phy = nullptr;
    samples = nullptr;
}
