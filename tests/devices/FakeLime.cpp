#include "tests/devices/FakeLime.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

FakeLime* FakeLime::current = nullptr;

namespace {

lms_device_t* const kDevice = reinterpret_cast<lms_device_t*>(0x1234);
constexpr size_t kStreamHandle = 42;

std::string number(double value)
{
    std::ostringstream text;
    text.precision(12);
    text << value;
    return text.str();
}

// "rx, " for the receive direction of a known device.
std::string on(lms_device_t* device, bool dirTx)
{
    return std::string(device == kDevice ? "" : "unknown device, ") + (dirTx ? "tx" : "rx");
}

std::string onStream(const LimeStream* stream)
{
    return stream->handle == kStreamHandle ? "" : "unknown stream";
}

std::string flag(bool b)
{
    return b ? "true" : "false";
}

} // namespace

FakeLime::FakeLime()
{
    if (current != nullptr)
        throw std::logic_error("one FakeLime at a time");
    current = this;
    table.GetDeviceList = [](lms_info_str_t* list) {
        if (current->listError < 0)
            return current->listError;
        if (list != nullptr)
            for (size_t i = 0; i < current->infos.size(); ++i)
                std::strncpy(list[i], current->infos[i].c_str(), sizeof(lms_info_str_t) - 1);
        return int(current->infos.size());
    };
    table.Open = [](lms_device_t** device, const lms_info_str_t info, void* args) {
        const int result = current->record("Open", std::string(info) + (args != nullptr ? ", args" : ""));
        *device = result == 0 ? kDevice : nullptr;
        return result;
    };
    table.Close = [](lms_device_t* d) { return current->record("Close", d == kDevice ? "" : "unknown device"); };
    table.Init = [](lms_device_t* d) { return current->record("Init", d == kDevice ? "" : "unknown device"); };
    table.GetLPFBWRange = [](lms_device_t* d, bool tx, LimeRange* range) {
        const int result = current->record("GetLPFBWRange", on(d, tx));
        if (result == 0)
            *range = current->filterRange;
        return result;
    };
    table.GetNumChannels = [](lms_device_t* d, bool tx) {
        return current->record("GetNumChannels", on(d, tx)) == 0 ? current->rxChannels : -1;
    };
    table.EnableChannel = [](lms_device_t* d, bool tx, size_t ch, bool enabled) {
        return current->record("EnableChannel", on(d, tx) + ", " + std::to_string(ch) + ", " + flag(enabled));
    };
    table.SetAntenna = [](lms_device_t* d, bool tx, size_t ch, size_t path) {
        return current->record("SetAntenna", on(d, tx) + ", " + std::to_string(ch) + ", " + std::to_string(path));
    };
    table.SetLOFrequency = [](lms_device_t* d, bool tx, size_t ch, double hz) {
        return current->record("SetLOFrequency", on(d, tx) + ", " + std::to_string(ch) + ", " + number(hz));
    };
    table.SetLPF = [](lms_device_t* d, bool tx, size_t ch, bool enabled) {
        return current->record("SetLPF", on(d, tx) + ", " + std::to_string(ch) + ", " + flag(enabled));
    };
    table.SetLPFBW = [](lms_device_t* d, bool tx, size_t ch, double hz) {
        return current->record("SetLPFBW", on(d, tx) + ", " + std::to_string(ch) + ", " + number(hz));
    };
    table.SetSampleRate = [](lms_device_t* d, double rate, size_t oversample) {
        return current->record("SetSampleRate",
                               (d == kDevice ? "" : "unknown device, ") + number(rate) + ", " +
                                   std::to_string(oversample),
                               true);
    };
    table.SetTestSignal = [](lms_device_t* d, bool tx, size_t ch, int signal, int16_t dcI, int16_t dcQ) {
        return current->record("SetTestSignal", on(d, tx) + ", " + std::to_string(ch) + ", " +
                                                    std::to_string(signal) + ", " + std::to_string(dcI) + ", " +
                                                    std::to_string(dcQ));
    };
    table.SetNormalizedGain = [](lms_device_t* d, bool tx, size_t ch, double g) {
        return current->record("SetNormalizedGain", on(d, tx) + ", " + std::to_string(ch) + ", " + number(g));
    };
    table.SetupStream = [](lms_device_t* d, LimeStream* s) {
        const int result = current->record(
            "SetupStream", on(d, s->isTx) + ", " + std::to_string(s->channel) + ", " + std::to_string(s->fifoSize) +
                               ", " + std::to_string(s->throughputVsLatency) + ", " + std::to_string(int(s->dataFmt)));
        if (result == 0)
            s->handle = kStreamHandle;
        return result;
    };
    table.DestroyStream = [](lms_device_t* d, LimeStream* s) {
        return current->record("DestroyStream", (d == kDevice ? "" : "unknown device") + onStream(s));
    };
    table.StartStream = [](LimeStream* s) {
        const int result = current->record("StartStream", onStream(s), true);
        std::lock_guard<std::mutex> lock(current->mutex);
        current->active = result == 0;
        return result;
    };
    table.StopStream = [](LimeStream* s) {
        const int result = current->record("StopStream", onStream(s), true);
        std::lock_guard<std::mutex> lock(current->mutex);
        current->active = false;
        return result;
    };
    table.RecvStream = [](LimeStream* s, void* samples, size_t count, LimeStreamMeta*, unsigned timeoutMs) {
        return current->recv(s, samples, count, timeoutMs);
    };
}

FakeLime::~FakeLime()
{
    current = nullptr;
}

int FakeLime::record(const std::string& name, const std::string& arguments, bool exclusive)
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.push_back(name + "(" + arguments + ")");
    if (exclusive && inRead)
        overlapping.push_back(name + " during RecvStream");
    return name == failing ? -1 : 0;
}

int FakeLime::recv(LimeStream* s, void* samples, size_t count, unsigned timeoutMs)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++readCount;
        if (failing == "RecvStream")
            return -1;   // at once, as for a radio that is gone
        if (inRead)
            overlapping.push_back("RecvStream during RecvStream");
        inRead = true;
    }
    // A read takes its time, as the library's does (bounded by the time-out),
    // so that a call that should wait for it can meet it.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 1u)));
    std::lock_guard<std::mutex> lock(mutex);
    inRead = false;
    if (!active || s->handle != kStreamHandle)
        return 0;   // not started: only the time-out
    const size_t available = stream.size() / 2 - handedOut;
    const size_t n = std::min({count, samplesPerRead, available});
    std::copy_n(stream.begin() + long(2 * handedOut), 2 * n, static_cast<int16_t*>(samples));
    handedOut += n;
    if (handedOut == stream.size() / 2)
        delivered = true;
    return int(n);
}

std::vector<std::string> FakeLime::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

size_t FakeLime::reads() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return readCount;
}

bool FakeLime::streamDelivered() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return delivered;
}

bool FakeLime::started() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return active;
}

std::vector<std::string> FakeLime::violations() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return overlapping;
}
