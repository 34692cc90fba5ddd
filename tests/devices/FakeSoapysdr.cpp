#include "tests/devices/FakeSoapysdr.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

FakeSoapysdr* FakeSoapysdr::current = nullptr;

namespace {

SoapyDeviceHandle* const kDevice = reinterpret_cast<SoapyDeviceHandle*>(0x50a9);
SoapyStreamHandle* const kStream = reinterpret_cast<SoapyStreamHandle*>(0x57e4);

std::string number(double value)
{
    return std::to_string(static_cast<long long>(value));
}

std::string joined(const SoapyKwargs* args)
{
    std::string text;
    for (size_t k = 0; args != nullptr && k < args->size; ++k)
        text += std::string(k ? "," : "") + args->keys[k] + "=" + args->vals[k];
    return text;
}

} // namespace

FakeSoapysdr::FakeSoapysdr()
{
    if (current != nullptr)
        throw std::logic_error("one FakeSoapysdr at a time");
    current = this;
    table.lastError = [] { return current->lastError.c_str(); };
    table.enumerate = [](const SoapyKwargs*, size_t* length) {
        FakeSoapysdr& self = *current;
        *length = self.radios.size();
        auto* list = static_cast<SoapyKwargs*>(std::calloc(self.radios.size() + 1, sizeof(SoapyKwargs)));
        for (size_t i = 0; i < self.radios.size(); ++i) {
            const auto& args = self.radios[i].args;
            list[i].size = args.size();
            list[i].keys = static_cast<char**>(std::calloc(args.size() + 1, sizeof(char*)));
            list[i].vals = static_cast<char**>(std::calloc(args.size() + 1, sizeof(char*)));
            for (size_t k = 0; k < args.size(); ++k) {
                list[i].keys[k] = strdup(args[k].first.c_str());
                list[i].vals[k] = strdup(args[k].second.c_str());
            }
        }
        std::lock_guard<std::mutex> lock(self.mutex);
        ++self.allocations;
        return list;
    };
    table.kwargsListClear = [](SoapyKwargs* list, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            for (size_t k = 0; k < list[i].size; ++k) {
                std::free(list[i].keys[k]);
                std::free(list[i].vals[k]);
            }
            std::free(list[i].keys);
            std::free(list[i].vals);
        }
        std::free(list);
        std::lock_guard<std::mutex> lock(current->mutex);
        --current->allocations;
    };
    table.make = [](const SoapyKwargs* args) -> SoapyDeviceHandle* {
        FakeSoapysdr& self = *current;
        const std::string text = joined(args);
        const int result = self.record("make(" + text + ")");
        for (const Radio& radio : self.radios) {
            std::string wanted;
            for (size_t k = 0; k < radio.args.size(); ++k)
                wanted += std::string(k ? "," : "") + radio.args[k].first + "=" + radio.args[k].second;
            if (wanted == text && !radio.makeFails && result == 0) {
                self.made = &radio;
                return kDevice;
            }
        }
        if (result == 0)
            self.lastError = "no match";
        return nullptr;
    };
    table.unmake = [](SoapyDeviceHandle*) { return current->record("unmake()"); };
    table.listSampleRates = [](const SoapyDeviceHandle*, int, size_t, size_t* length) {
        return current->allocate(current->made->sampleRates, length);
    };
    table.getGainRange = [](const SoapyDeviceHandle*, int, size_t) { return current->made->gain; };
    table.getFrequencyRange = [](const SoapyDeviceHandle*, int, size_t, size_t* length) {
        return current->allocate(current->made->frequencies, length);
    };
    table.getBandwidthRange = [](const SoapyDeviceHandle*, int, size_t, size_t* length) {
        return current->allocate(current->made->bandwidths, length);
    };
    table.free = [](void* pointer) {
        std::free(pointer);
        std::lock_guard<std::mutex> lock(current->mutex);
        --current->allocations;
    };
    table.setSampleRate = [](SoapyDeviceHandle*, int direction, size_t channel, double rate) {
        return current->record("setSampleRate(" + std::to_string(direction) + "," + std::to_string(channel) + "," +
                               number(rate) + ")");
    };
    table.setFrequency = [](SoapyDeviceHandle*, int direction, size_t channel, double hz, const SoapyKwargs*) {
        return current->record("setFrequency(" + std::to_string(direction) + "," + std::to_string(channel) + "," +
                               number(hz) + ")");
    };
    table.setGainMode = [](SoapyDeviceHandle*, int, size_t, bool automatic) {
        return current->record("setGainMode(" + std::to_string(int(automatic)) + ")");
    };
    table.setGain = [](SoapyDeviceHandle*, int, size_t, double db) {
        return current->record("setGain(" + number(db) + ")");
    };
    table.setBandwidth = [](SoapyDeviceHandle*, int, size_t, double hz) {
        return current->record("setBandwidth(" + number(hz) + ")");
    };
    table.setupStream = [](SoapyDeviceHandle*, int direction, const char* format, const size_t* channels,
                           size_t numChannels, const SoapyKwargs*) -> SoapyStreamHandle* {
        std::string text = "setupStream(" + std::to_string(direction) + "," + format;
        for (size_t k = 0; k < numChannels; ++k)
            text += "," + std::to_string(channels[k]);
        return current->record(text + ")") == 0 ? kStream : nullptr;
    };
    table.getStreamMTU = [](const SoapyDeviceHandle*, SoapyStreamHandle*) { return current->mtu; };
    table.activateStream = [](SoapyDeviceHandle*, SoapyStreamHandle*, int, long long, size_t) {
        return current->record("activateStream()");
    };
    table.readStream = [](SoapyDeviceHandle*, SoapyStreamHandle*, void* const* buffers, size_t numElems, int*,
                          long long*, long timeoutUs) { return current->read(buffers, numElems, timeoutUs); };
    table.deactivateStream = [](SoapyDeviceHandle*, SoapyStreamHandle*, int, long long) {
        return current->record("deactivateStream()");
    };
    table.closeStream = [](SoapyDeviceHandle*, SoapyStreamHandle*) { return current->record("closeStream()"); };
    table.errToStr = [](int code) { return code == -1 ? "TIMEOUT" : code == -2 ? "STREAM_ERROR" : "UNKNOWN"; };
}

FakeSoapysdr::~FakeSoapysdr()
{
    current = nullptr;
}

template <typename T>
T* FakeSoapysdr::allocate(const std::vector<T>& values, size_t* length)
{
    *length = values.size();
    auto* array = static_cast<T*>(std::malloc(sizeof(T) * (values.size() + 1)));
    std::copy(values.begin(), values.end(), array);
    std::lock_guard<std::mutex> lock(mutex);
    ++allocations;
    return array;
}

int FakeSoapysdr::record(const std::string& call)
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.push_back(call);
    const bool fails = !failing.empty() && call.compare(0, failing.size() + 1, failing + "(") == 0;
    if (fails)
        lastError = failing + " refused";
    return fails ? -2 : 0;
}

int FakeSoapysdr::read(void* const* buffers, size_t numElems, long timeoutUs)
{
    size_t n = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const size_t left = (stream.size() - readAt) / 2;
        n = std::min(std::min(numElems, mtu), left);
        if (n > 0)
            std::memcpy(buffers[0], stream.data() + readAt, n * 2 * sizeof(int16_t));
        readAt += 2 * n;
        if (n > 0)
            return int(n);
        delivered = true;
        if (readFailure != 0) {
            ++failures;
            return readFailure;
        }
    }
    // Nothing more comes: the radio's time-out, shortened.
    std::this_thread::sleep_for(std::chrono::microseconds(std::min(timeoutUs, 5000L)));
    return kSoapyTimeout;
}

std::vector<std::string> FakeSoapysdr::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

bool FakeSoapysdr::streamDelivered() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return delivered;
}

int FakeSoapysdr::failedReads() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return failures;
}

int FakeSoapysdr::outstanding() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return allocations;
}
