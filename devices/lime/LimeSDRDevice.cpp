#include "devices/lime/LimeSDRDevice.h"

#include "core/Log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

constexpr size_t kSamplesPerRead = 16384;
constexpr unsigned kReadTimeoutMs = 100;

// Hz values and gains as plain decimals (1400000, 0.36328125), never in
// exponent form.
std::string decimal(double value)
{
    std::ostringstream text;
    text.precision(12);
    text << value;
    return text.str();
}

} // namespace

LimeSDRDevice::LimeSDRDevice(const LimeLibrary& library, std::string deviceInfo, int index)
    : lib(library), info(std::move(deviceInfo)), listIndex(index)
{
}

LimeSDRDevice::~LimeSDRDevice()
{
    close();
}

std::string LimeSDRDevice::listingName(const char* info)
{
    char text[1024];
    std::snprintf(text, sizeof text, "limesuite | %s", info != nullptr ? info : "");
    return text;
}

std::vector<uint64_t> LimeSDRDevice::getSampleRates()
{
    return {10000000, 8000000, 2000000, 2400000, 4000000, 10000000, 15000000, 20000000, 25000000, 30000000};
}

void LimeSDRDevice::closeAfterFailure(const char* call)
{
    LogLine() << "LMS_Close(dev)";
    lib.Close(device);
    device = nullptr;
    LogLine() << call << " failed for \"" << deviceName << "\"";
}

bool LimeSDRDevice::open(SampleCallback& callback)
{
    if (device != nullptr)
        close();
    LogLine() << "devstr: " << info;
    lms_info_str_t devstr = {};
    std::strncpy(devstr, info.c_str(), sizeof devstr - 1);
    LogLine() << "LMS_Open(dev, devstr, NULL)";
    if (lib.Open(&device, devstr, nullptr) != 0 || device == nullptr) {
        device = nullptr;
        LogLine() << "LMS_Open failed for \"" << deviceName << "\"";
        return true;
    }
    LogLine() << "LMS_Init(dev)";
    if (lib.Init(device) != 0) {
        closeAfterFailure("LMS_Init");
        return true;
    }

    LogLine() << "LMS_GetLPFBWRange(dev, LMS_CH_RX, &filter_bw)";
    filterRange = LimeRange{};
    lib.GetLPFBWRange(device, kLimeRx, &filterRange);
    LogLine() << "LMS filter bw min: " << decimal(filterRange.min) << ", max: " << decimal(filterRange.max)
              << ", step: " << decimal(filterRange.step);
    LogLine() << "LMS_GetNumChannels(dev, LMS_CH_RX)";
    rxChannels = lib.GetNumChannels(device, kLimeRx);
    LogLine() << "LMS number of rx channels: " << rxChannels;
    if (rxChannel < 0 || rxChannel >= rxChannels) {
        LogLine() << "rx channel set(" << rxChannel << ") is greater than maximum (" << rxChannels
                  << "), setting defaults.";
        setRXChannel(0);
    }

    stream = LimeStream{};
    stream.channel = uint32_t(rxChannel);
    const size_t channel = stream.channel;
    LogLine() << "LMS_EnableChannel(dev, LMS_CH_RX, " << channel << ", true)";
    lib.EnableChannel(device, kLimeRx, channel, true);
    LogLine() << "LMS_SetAntenna(dev, LMS_CH_RX, " << channel << ", " << rxPath << ")";
    lib.SetAntenna(device, kLimeRx, channel, size_t(rxPath));
    LogLine() << "LMS_SetLOFrequency(dev, LMS_CH_RX, " << channel << ", " << frequency << ")";
    lib.SetLOFrequency(device, kLimeRx, channel, double(frequency));
    LogLine() << "LMS_SetLPF(dev, LMS_CH_RX, " << channel << ", true)";
    lib.SetLPF(device, kLimeRx, channel, true);
    // Always the first listed rate.
    setSampleRateIndex(0);
    LogLine() << "LMS_SetTestSignal(dev, LMS_CH_RX, " << channel << ", LMS_TESTSIG_NONE, 0, 0)";
    lib.SetTestSignal(device, kLimeRx, channel, 0, 0, 0);
    const double normalizedGain = double(gain) / getMaxGain();
    LogLine() << "LMS_SetNormalizedGain(dev, LMS_CH_RX, " << channel << ", " << decimal(normalizedGain) << ")";
    lib.SetNormalizedGain(device, kLimeRx, channel, normalizedGain);

    stream.isTx = false;
    stream.fifoSize = 32768;
    stream.throughputVsLatency = 0.8f;
    stream.dataFmt = LimeStream::I12;
    LogLine() << "LMS_SetupStream(dev, &streamId)";
    if (lib.SetupStream(device, &stream) != 0) {
        closeAfterFailure("LMS_SetupStream");
        return true;
    }
    samples = &callback;
    stopping.store(false);
    streamer = std::thread(&LimeSDRDevice::streamLoop, this);
    return false;
}

void LimeSDRDevice::streamLoop()
{
    {
        std::lock_guard<std::mutex> lock(streamMutex);
        LogLine() << "LMS_StartStream(&streamId)";
        lib.StartStream(&stream);
        streaming.store(true);
    }
    std::vector<int16_t> raw(2 * kSamplesPerRead), converted(2 * kSamplesPerRead);
    LimeStreamMeta meta;
    while (!stopping.load()) {
        int received = 0;
        {
            std::lock_guard<std::mutex> lock(streamMutex);
            received = lib.RecvStream(&stream, raw.data(), kSamplesPerRead, &meta, kReadTimeoutMs);
        }
        if (received < 0) {
            // A failing read returns at once: do not spin on it.
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadTimeoutMs / 2));
            continue;
        }
        const size_t count = std::min(size_t(received), kSamplesPerRead);
        for (size_t k = 0; k < 2 * count; ++k)
            converted[k] = int16_t(raw[k] * 16);   // 12-bit to full scale
        if (count > 0)
            deliver(*samples, converted.data(), count);
    }
    {
        // Under the mutex, so that a sample-rate change cannot start the
        // stream again behind this stop.
        std::lock_guard<std::mutex> lock(streamMutex);
        LogLine() << "LMS_StopStream(&streamId)";
        lib.StopStream(&stream);
        streaming.store(false);
    }
    LogLine() << "LMS stream stopped!";
}

void LimeSDRDevice::setSampleRateIndex(unsigned index)
{
    InputDevice::setSampleRateIndex(index);
    if (device == nullptr)
        return;
    LogLine() << "Setting LimeSDR Bandwidth to " << sampleRate;
    std::lock_guard<std::mutex> lock(streamMutex);
    const bool restart = streaming.load();
    if (restart) {
        LogLine() << "LMS_StopStream(&streamId)";
        lib.StopStream(&stream);
    }
    LogLine() << "LMS_SetSampleRate(dev, " << sampleRate << ", 0)";
    lib.SetSampleRate(device, double(sampleRate), 0);
    if (restart) {
        LogLine() << "LMS_StartStream(&streamId)";
        lib.StartStream(&stream);
    }
}

void LimeSDRDevice::setFilterBandwidth(uint64_t hz)
{
    LogLine() << "LimeSDRDevice::setFilterBandwidth(" << hz << "), min: " << decimal(filterRange.min)
              << ", max: " << decimal(filterRange.max);
    if (double(hz) < filterRange.min || double(hz) > filterRange.max)
        return;
    InputDevice::setFilterBandwidth(hz);
    if (device == nullptr)
        return;
    LogLine() << "LMS_SetLPFBW(dev, LMS_CH_RX, " << stream.channel << ", " << hz << ")";
    lib.SetLPFBW(device, kLimeRx, stream.channel, double(hz));
}

void LimeSDRDevice::setFrequency(uint64_t hz)
{
    InputDevice::setFrequency(hz);
    if (device == nullptr)
        return;
    LogLine() << "LMS_SetLOFrequency(dev, LMS_CH_RX, " << stream.channel << ", " << hz << ")";
    lib.SetLOFrequency(device, kLimeRx, stream.channel, double(hz));
}

void LimeSDRDevice::setGain(int value)
{
    InputDevice::setGain(value);
    if (device == nullptr)
        return;
    const double normalizedGain = double(value) / getMaxGain();
    LogLine() << "LMS_SetNormalizedGain(dev, LMS_CH_RX, " << stream.channel << ", " << decimal(normalizedGain)
              << ")";
    lib.SetNormalizedGain(device, kLimeRx, stream.channel, normalizedGain);
}

void LimeSDRDevice::setRXChannel(int channel)
{
    rxChannel = channel;
    LogLine() << "LimeSDRDevice::setRXChannel(" << channel << ")";
}

void LimeSDRDevice::setRXPath(int path)
{
    rxPath = path;
    LogLine() << "LimeSDRDevice::setRXPath(" << path << ")";
}

void LimeSDRDevice::close()
{
    if (device == nullptr)
        return;
    LogLine() << "LimeSDRDevice::close()";
    stopping.store(true);
    if (streamer.joinable())
        streamer.join();
    LogLine() << "thread joined!";
    LogLine() << "LMS_DestroyStream(dev, &streamId)";
    lib.DestroyStream(device, &stream);
    streaming.store(false);
    LogLine() << "LMS_Close(dev)";
    lib.Close(device);
    device = nullptr;
    samples = nullptr;
    LogLine() << "limesdr dev closed successfully!";
}
