// An Airspy through libairspy: 12-bit samples in 16-bit words, delivered on
// the library's own receive thread. Offers the sample rates the radio
// reports when opened.
#pragma once

#include "devices/InputDevice.h"
#include "devices/airspy/AirspyLibrary.h"

#include <vector>

class AirSpyDevice : public InputDevice {
public:
    // The most sample rates read from a radio.
    static constexpr uint32_t kMaxSampleRates = 8;

    AirSpyDevice(const AirspyLibrary& library, uint64_t serial);
    ~AirSpyDevice() override;

    std::string getTypeName() const override { return "AirSpyDevice"; }
    bool open(SampleCallback& callback) override;
    void close() override;

    // 2500000, 10000000 until the radio has been opened, then its own list.
    std::vector<uint64_t> getSampleRates() override { return rates; }
    void setSampleRateIndex(unsigned index) override;
    bool hasFilterBandwidth() override { return false; }
    int getMinGain() override { return 0; }
    int getMaxGain() override { return 15; }
    void setGain(int gain) override;
    unsigned getMinFrequency() override { return 24000; }
    unsigned getMaxFrequency() override { return 1750000; }
    void setFrequency(uint64_t hz) override;

    // "libairspy | <firmware version> | SERIAL: <serial in decimal>": opens
    // the radio for its version and closes it again. One that cannot be
    // opened logs the library's code and shows "(null)" for the version.
    static std::string listingName(const AirspyLibrary& library, uint64_t serial);

private:
    static int onTransfer(void* samples, int sampleCount, void* context);
    void readSampleRates();

    const AirspyLibrary& lib;
    const uint64_t serial;
    airspy_device* device = nullptr;
    std::vector<uint64_t> rates{2500000, 10000000};
    AirspyLibrary::Receiver receiver{&AirSpyDevice::onTransfer, this};
    SampleCallback* samples = nullptr;   // the caller's, while open
    std::vector<int16_t> converted;      // one transfer, on the library's thread
};
