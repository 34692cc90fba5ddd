#include "devices/hackrf/HackRFDevice.h"

#include "core/Log.h"
#include "devices/SampleFormat.h"

#include <algorithm>
#include <cstdio>

HackRFDevice::HackRFDevice(const HackrfLibrary& library, hackrf_device_list* deviceList, int deviceIndex)
    : lib(library), list(deviceList), index(deviceIndex)
{
}

HackRFDevice::~HackRFDevice()
{
    close();
}

std::string HackRFDevice::listingName(const HackrfLibrary& library, const hackrf_device_list* list, int index)
{
    const char* serial = library.device_list_serial(list, index);
    char text[256];
    std::snprintf(text, sizeof text, "libhackrf | DEVTYPE: %04X, SERIAL: %s",
                  unsigned(library.device_list_board_id(list, index)), serial != nullptr ? serial : "(null)");
    return text;
}

std::vector<uint64_t> HackRFDevice::getSampleRates()
{
    return {8000000, 20000000, 16000000, 8000000, 4000000};
}

bool HackRFDevice::open(SampleCallback& callback)
{
    if (device != nullptr)
        close();
    if (lib.device_list_open(list, index, &device) != 0 || device == nullptr) {
        device = nullptr;
        LogLine() << "hackrf_device_list_open failed for \"" << deviceName << "\"";
        return true;
    }
    // The stored rate; one that is not offered (none stored yet) would leave
    // the radio without a usable rate, so that starts at the first listed.
    const std::vector<uint64_t> rates = getSampleRates();
    if (std::find(rates.begin(), rates.end(), sampleRate) == rates.end())
        sampleRate = rates.front();
    lib.set_sample_rate(device, double(sampleRate));
    lib.set_baseband_filter_bandwidth(device, uint32_t(filterBandwidth));
    lib.set_lna_gain(device, 40);
    lib.set_vga_gain(device, uint32_t(gain));
    // The frequency waits for the next setFrequency().
    samples = &callback;
    if (lib.start_rx(device, &receiver) != 0) {
        LogLine() << "hackrf_start_rx failed for \"" << deviceName << "\"";
        // Reported as not open: nothing may stay claimed.
        lib.close(device);
        device = nullptr;
        samples = nullptr;
        return true;
    }
    return false;
}

int HackRFDevice::onTransfer(uint8_t* buffer, int validLength, void* context)
{
    auto* self = static_cast<HackRFDevice*>(context);
    const size_t pairs = validLength > 0 ? size_t(validLength) / 2 : 0;
    self->converted.resize(2 * pairs);
    for (size_t k = 0; k < 2 * pairs; ++k)
        self->converted[k] = convert_s8_s16(buffer[k]);   // value × 256
    self->deliver(*self->samples, self->converted.data(), pairs);
    return 0;
}

void HackRFDevice::setSampleRateIndex(unsigned rateIndex)
{
    InputDevice::setSampleRateIndex(rateIndex);
    if (device != nullptr)
        lib.set_sample_rate(device, double(sampleRate));
}

void HackRFDevice::setFilterBandwidth(uint64_t hz)
{
    InputDevice::setFilterBandwidth(hz);
    if (device != nullptr)
        lib.set_baseband_filter_bandwidth(device, uint32_t(hz));
}

void HackRFDevice::setFrequency(uint64_t hz)
{
    InputDevice::setFrequency(hz);
    if (device != nullptr)
        lib.set_freq(device, hz);
}

void HackRFDevice::setGain(int value)
{
    InputDevice::setGain(value);
    if (device != nullptr)
        lib.set_vga_gain(device, uint32_t(value));
}

void HackRFDevice::close()
{
    if (device == nullptr)
        return;
    // After close the library calls back no more.
    lib.stop_rx(device);
    lib.close(device);
    device = nullptr;
    samples = nullptr;
}
