// A HackRF through libhackrf: signed 8-bit samples delivered on the library's
// own receive thread.
#pragma once

#include "devices/InputDevice.h"
#include "devices/hackrf/HackrfLibrary.h"

#include <vector>

class HackRFDevice : public InputDevice {
public:
    // Opened as entry `index` of the library's `list`, which must outlive it.
    HackRFDevice(const HackrfLibrary& library, hackrf_device_list* list, int index);
    ~HackRFDevice() override;

    std::string getTypeName() const override { return "HackRFDevice"; }
    bool open(SampleCallback& callback) override;
    void close() override;

    std::vector<uint64_t> getSampleRates() override;
    void setSampleRateIndex(unsigned index) override;
    void setFilterBandwidth(uint64_t hz) override;
    bool hasFilterBandwidth() override { return true; }
    int getMinGain() override { return 0; }
    int getMaxGain() override { return 63; }
    void setGain(int gain) override;
    unsigned getMinFrequency() override { return 0; }
    unsigned getMaxFrequency() override { return 2150000; }
    void setFrequency(uint64_t hz) override;

    // "libhackrf | DEVTYPE: <USB board id, 4 hex digits>, SERIAL: <serial>".
    static std::string listingName(const HackrfLibrary& library, const hackrf_device_list* list, int index);

private:
    static int onTransfer(uint8_t* buffer, int validLength, void* context);

    const HackrfLibrary& lib;
    hackrf_device_list* const list;
    const int index;
    hackrf_device* device = nullptr;
    HackrfLibrary::Receiver receiver{&HackRFDevice::onTransfer, this};
    SampleCallback* samples = nullptr;   // the caller's, while open
    std::vector<int16_t> converted;      // one transfer, on the library's thread
};
