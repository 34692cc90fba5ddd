#include "tests/devices/FakeRtlsdr.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <stdexcept>

FakeRtlsdr* FakeRtlsdr::current = nullptr;

namespace {

rtlsdr_dev* const kHandle = reinterpret_cast<rtlsdr_dev*>(0x1234);

} // namespace

FakeRtlsdr::FakeRtlsdr()
{
    if (current != nullptr)
        throw std::logic_error("one FakeRtlsdr at a time");
    current = this;
    table.get_device_count = [] { return uint32_t(current->dongles.size()); };
    table.get_device_name = [](uint32_t i) {
        return i < current->dongles.size() ? current->dongles[i].name.c_str() : "";
    };
    table.get_device_usb_strings = [](uint32_t i, char* m, char* p, char* s) {
        if (i >= current->dongles.size() || !current->dongles[i].usbStringsReadable)
            return -1;
        const Dongle& d = current->dongles[i];
        std::strcpy(m, d.manufacturer.c_str());
        std::strcpy(p, d.product.c_str());
        std::strcpy(s, d.serial.c_str());
        return 0;
    };
    table.open = [](rtlsdr_dev** device, uint32_t index) {
        const int result = current->record("open(" + std::to_string(index) + ")");
        *device = result == 0 ? kHandle : nullptr;
        return result;
    };
    table.close = [](rtlsdr_dev*) { return current->record("close()"); };
    table.set_tuner_gain_mode = [](rtlsdr_dev*, int v) {
        return current->record("set_tuner_gain_mode(" + std::to_string(v) + ")");
    };
    table.set_agc_mode = [](rtlsdr_dev*, int v) { return current->record("set_agc_mode(" + std::to_string(v) + ")"); };
    table.set_testmode = [](rtlsdr_dev*, int v) { return current->record("set_testmode(" + std::to_string(v) + ")"); };
    table.set_direct_sampling = [](rtlsdr_dev*, int v) {
        return current->record("set_direct_sampling(" + std::to_string(v) + ")");
    };
    table.set_offset_tuning = [](rtlsdr_dev*, int v) {
        return current->record("set_offset_tuning(" + std::to_string(v) + ")");
    };
    table.reset_buffer = [](rtlsdr_dev*) { return current->record("reset_buffer()"); };
    table.set_center_freq = [](rtlsdr_dev*, uint32_t hz) {
        {
            std::lock_guard<std::mutex> lock(current->mutex);
            current->tunedHz = hz;
        }
        return current->record("set_center_freq(" + std::to_string(hz) + ")");
    };
    table.set_tuner_gain = [](rtlsdr_dev*, int g) { return current->record("set_tuner_gain(" + std::to_string(g) + ")"); };
    table.set_sample_rate = [](rtlsdr_dev*, uint32_t hz) {
        return current->record("set_sample_rate(" + std::to_string(hz) + ")");
    };
    table.read_async = [](rtlsdr_dev*, RtlsdrLibrary::ReadCallback callback, void* context, uint32_t, uint32_t) {
        return current->readAsync(callback, context);
    };
    table.cancel_async = [](rtlsdr_dev*) { return current->cancel(); };
}

FakeRtlsdr::~FakeRtlsdr()
{
    current = nullptr;
}

int FakeRtlsdr::record(const std::string& call)
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.push_back(call);
    return call.compare(0, failing.size() + 1, failing + "(") == 0 && !failing.empty() ? -1 : 0;
}

int FakeRtlsdr::readAsync(RtlsdrLibrary::ReadCallback callback, void* context)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        recorded.push_back("read_async()");
        inRead = true;
    }
    if (!bands.empty()) {
        deliverBands(callback, context);
        std::lock_guard<std::mutex> lock(mutex);
        cancelRequested = false;
        inRead = false;
        return 0;
    }
    // The stream once, in buffers, then wait for the cancel like the library.
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        first = !delivered;
    }
    if (first) {
        for (size_t at = 0; at < stream.size(); at += bufferBytes) {
            std::vector<uint8_t> buffer(stream.begin() + long(at),
                                        stream.begin() + long(std::min<size_t>(stream.size(), at + bufferBytes)));
            callback(buffer.data(), uint32_t(buffer.size()), context);
        }
    }
    std::unique_lock<std::mutex> lock(mutex);
    delivered = true;
    cancelled.wait(lock, [this] { return cancelRequested; });
    cancelRequested = false;
    inRead = false;
    return 0;
}

void FakeRtlsdr::deliverBands(RtlsdrLibrary::ReadCallback callback, void* context)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const std::vector<uint8_t> idle(bufferBytes, 0x80);
    std::vector<uint8_t> buffer(bufferBytes);
    for (uint64_t sent = 0;; sent += bufferBytes) {
        uint32_t hz;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (cancelRequested)
                return;
            hz = tunedHz;
        }
        const auto band = bands.find(hz);
        const std::vector<uint8_t>& from = band == bands.end() || band->second.empty() ? idle : band->second;
        for (size_t k = 0; k < bufferBytes; ++k)
            buffer[k] = from[(sent + k) % from.size()];
        // Two bytes a sample: the buffer is ready once its last sample is in.
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                                  double(sent + bufferBytes) / 2 / pacedSampleRate)));
        callback(buffer.data(), bufferBytes, context);
    }
}

int FakeRtlsdr::cancel()
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.push_back("cancel_async()");
    if (!inRead)
        return -2;   // as the library: nothing to cancel
    cancelRequested = true;
    cancelled.notify_all();
    return 0;
}

std::vector<std::string> FakeRtlsdr::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

bool FakeRtlsdr::streamDelivered() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return delivered;
}

bool FakeRtlsdr::reading() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return inRead;
}
