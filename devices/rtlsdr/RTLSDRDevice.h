// An RTL-SDR dongle through librtlsdr: unsigned 8-bit samples read on a
// thread of its own.
#pragma once

#include "devices/InputDevice.h"
#include "devices/rtlsdr/RtlsdrLibrary.h"

#include <atomic>
#include <thread>
#include <vector>

class RTLSDRDevice : public InputDevice {
public:
    RTLSDRDevice(const RtlsdrLibrary& library, uint32_t index);
    ~RTLSDRDevice() override;

    std::string getTypeName() const override { return "RTLSDRDevice"; }
    bool open(SampleCallback& callback) override;
    void close() override;

    std::vector<uint64_t> getSampleRates() override;
    void setSampleRateIndex(unsigned index) override;
    bool hasFilterBandwidth() override { return false; }
    int getMinGain() override { return 0; }
    int getMaxGain() override { return 800; }
    void setGain(int gain) override;
    unsigned getMinFrequency() override { return 0; }
    unsigned getMaxFrequency() override { return 2150000; }
    void setFrequency(uint64_t hz) override;

    // "librtlsdr | MF: …, PROD: …, SERIAL: …, NAME: …", or
    // "librtlsdr | <unknown>" when the USB strings cannot be read.
    static std::string listingName(const RtlsdrLibrary& library, uint32_t index);

private:
    static void onBuffer(unsigned char* buffer, uint32_t length, void* context);
    void readLoop();

    const RtlsdrLibrary& lib;
    const uint32_t index;
    rtlsdr_dev* device = nullptr;
    SampleCallback* samples = nullptr;   // the caller's, while open
    std::vector<int16_t> converted;      // one buffer, on the read thread
    std::atomic<bool> stopping{false};
    std::atomic<bool> readerDone{true};
    std::thread reader;
};
