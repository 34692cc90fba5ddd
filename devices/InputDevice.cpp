#include "devices/InputDevice.h"

#include <algorithm>

InputDevice::~InputDevice() = default;

uint32_t deviceNameHash(const std::string& name)
{
    uint32_t h = 0xFFFFFFFFu;
    for (unsigned char c : name)
        h = (h + c) * 33u;
    return h;
}

std::string InputDevice::getDeviceName() const { return deviceName; }

uint32_t InputDevice::getDeviceHash() const { return deviceNameHash(deviceName); }

void InputDevice::setSampleRateIndex(unsigned index)
{
    const std::vector<uint64_t> rates = getSampleRates();
    if (index < rates.size())
        sampleRate = rates[index];
}

void InputDevice::setSampleRate(uint64_t rate)
{
    const std::vector<uint64_t> rates = getSampleRates();
    if (std::find(rates.begin(), rates.end(), rate) != rates.end())
        sampleRate = rate;
}

void InputDevice::setFilterBandwidth(uint64_t hz) { filterBandwidth = hz; }
uint64_t InputDevice::getSampleRate() { return sampleRate; }
uint64_t InputDevice::getFilterBandwidth() { return filterBandwidth; }
int InputDevice::getGain() { return gain; }
void InputDevice::setGain(int value) { gain = value; }
uint64_t InputDevice::getFrequency() { return frequency; }
void InputDevice::setFrequency(uint64_t hz) { frequency = hz; }
