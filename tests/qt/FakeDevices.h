// Stand-ins for radios, for tests of the device layer without hardware.
#pragma once

#include "devices/InputDevice.h"
#include "devices/RxControls.h"

#include <string>
#include <vector>

class FakeDevice : public InputDevice {
public:
    explicit FakeDevice(std::string type = "RTLSDRDevice", std::string name = "fake | SERIAL: 0001",
                        std::vector<uint64_t> rates = {2400000, 2800000, 3200000})
        : type(std::move(type)), rates(std::move(rates))
    {
        deviceName = std::move(name);
    }
    std::string getTypeName() const override { return type; }
    bool open(SampleCallback&) override { return false; }
    void close() override {}
    std::vector<uint64_t> getSampleRates() override { return rates; }
    bool hasFilterBandwidth() override { return true; }
    int getMinGain() override { return 0; }
    int getMaxGain() override { return 100; }
    unsigned getMinFrequency() override { return 0; }
    unsigned getMaxFrequency() override { return 6000000; }

    std::string type;
    std::vector<uint64_t> rates;
};

// Has the LimeSDR's extra controls, as the real driver will.
class FakeLimeSDR : public FakeDevice, public LimeSDRRxControl {
public:
    FakeLimeSDR() : FakeDevice("LimeSDRDevice", "limesuite | LimeSDR Mini, serial=1D3AC3") {}
    void setRXChannel(int c) override { calls.push_back("channel " + std::to_string(c)); }
    void setRXPath(int p) override { calls.push_back("path " + std::to_string(p)); }
    std::vector<std::string> calls;
};

class FakeSDRPlay : public FakeDevice, public SDRPlayRxControl {
public:
    FakeSDRPlay() : FakeDevice("SDRPlayDevice", "sdrplay | SerNo: 1234, hwVer: 2, tuner: 0x01") {}
    void setRXChannel(int c) override { calls.push_back("channel " + std::to_string(c)); }
    std::vector<std::string> calls;
};
