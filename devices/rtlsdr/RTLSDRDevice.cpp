#include "devices/rtlsdr/RTLSDRDevice.h"

#include "core/Log.h"
#include "devices/SampleFormat.h"

#include <chrono>
#include <cstdio>

RTLSDRDevice::RTLSDRDevice(const RtlsdrLibrary& library, uint32_t deviceIndex)
    : lib(library), index(deviceIndex)
{
}

RTLSDRDevice::~RTLSDRDevice()
{
    close();
}

std::string RTLSDRDevice::listingName(const RtlsdrLibrary& library, uint32_t index)
{
    char manufacturer[256] = {}, product[256] = {}, serial[256] = {};
    if (library.get_device_usb_strings(index, manufacturer, product, serial) != 0)
        return "librtlsdr | <unknown>";
    const char* name = library.get_device_name(index);
    char text[1024];
    std::snprintf(text, sizeof text, "librtlsdr | MF: %s, PROD: %s, SERIAL: %s, NAME: %s", manufacturer, product, serial,
                  name != nullptr ? name : "");
    return text;
}

std::vector<uint64_t> RTLSDRDevice::getSampleRates()
{
    return {2400000, 2800000, 3200000, 1800000, 1440000, 1200000, 1028571, 960000, 250000};
}

bool RTLSDRDevice::open(SampleCallback& callback)
{
    if (device != nullptr)
        close();
    if (lib.open(&device, index) != 0 || device == nullptr) {
        device = nullptr;
        LogLine() << "rtlsdr_open failed for \"" << deviceName << "\"";
        return true;
    }
    lib.set_tuner_gain_mode(device, 1);
    lib.set_agc_mode(device, 0);
    lib.set_testmode(device, 0);
    lib.set_direct_sampling(device, 0);
    lib.set_offset_tuning(device, 0);
    lib.reset_buffer(device);
    lib.set_center_freq(device, uint32_t(frequency));
    lib.set_tuner_gain(device, gain);
    // Always the first listed rate.
    setSampleRateIndex(0);
    samples = &callback;
    stopping.store(false);
    readerDone.store(false);
    reader = std::thread([this] {
        readLoop();
        readerDone.store(true);
    });
    return false;
}

void RTLSDRDevice::readLoop()
{
    while (!stopping.load()) {
        // The library's default buffer count and length.
        if (lib.read_async(device, &RTLSDRDevice::onBuffer, this, 0, 0) != 0 && !stopping.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));   // no device: do not spin
    }
}

void RTLSDRDevice::onBuffer(unsigned char* buffer, uint32_t length, void* context)
{
    auto* self = static_cast<RTLSDRDevice*>(context);
    const size_t pairs = length / 2;
    self->converted.resize(2 * pairs);
    for (size_t k = 0; k < 2 * pairs; ++k)
        self->converted[k] = convert_u8_s16(buffer[k]);   // (byte − 128) × 256
    self->deliver(*self->samples, self->converted.data(), pairs);
}

void RTLSDRDevice::setSampleRateIndex(unsigned rateIndex)
{
    InputDevice::setSampleRateIndex(rateIndex);
    if (device != nullptr)
        lib.set_sample_rate(device, uint32_t(sampleRate));
}

void RTLSDRDevice::setFrequency(uint64_t hz)
{
    InputDevice::setFrequency(hz);
    if (device != nullptr)
        lib.set_center_freq(device, uint32_t(hz));
}

void RTLSDRDevice::setGain(int value)
{
    InputDevice::setGain(value);
    if (device != nullptr)
        lib.set_tuner_gain(device, value);
}

void RTLSDRDevice::close()
{
    if (device == nullptr)
        return;
    stopping.store(true);
    // A cancel that comes between two reads is lost: cancel until the
    // reader has left.
    lib.cancel_async(device);
    while (!readerDone.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!readerDone.load())
            lib.cancel_async(device);
    }
    if (reader.joinable())
        reader.join();
    lib.close(device);
    device = nullptr;
    samples = nullptr;
}
