// Any radio with a SoapySDR module: 16-bit complex samples (CS16) read from
// its receive stream on a thread of its own. What the radio offers (rates,
// gain and frequency ranges, a filter) is read from it when it is listed.
#pragma once

#include "devices/InputDevice.h"
#include "devices/soapysdr/SoapysdrLibrary.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class SoapySDRDevice : public InputDevice {
public:
    // A radio as the library lists it and what it offers on receive channel 0.
    struct Description {
        std::vector<std::pair<std::string, std::string>> args;   // what it is made from
        std::vector<uint64_t> sampleRates;                         // Hz, the radio's order
        int minGain = 0, maxGain = 0;                              // dB
        unsigned minFrequency = 0, maxFrequency = 0;               // kHz
        bool hasFilter = false;
    };

    SoapySDRDevice(const SoapysdrLibrary& library, Description description);
    ~SoapySDRDevice() override;

    // The radios the library finds, but those a driver of our own lists
    // (rtlsdr, hackrf, lime, airspy, sdrplay, plutosdr), each named
    // "soapysdr | <driver> | <label>". A radio that cannot be made to read
    // what it offers is logged and left out.
    static std::vector<std::unique_ptr<SoapySDRDevice>> enumerate(const SoapysdrLibrary& library);
    static bool hasOwnDriver(const std::string& driver);

    std::string getTypeName() const override { return "SoapySDRDevice"; }
    bool open(SampleCallback& callback) override;
    void close() override;

    std::vector<uint64_t> getSampleRates() override { return description.sampleRates; }
    void setSampleRateIndex(unsigned index) override;
    void setFilterBandwidth(uint64_t hz) override;
    bool hasFilterBandwidth() override { return description.hasFilter; }
    int getMinGain() override { return description.minGain; }
    int getMaxGain() override { return description.maxGain; }
    void setGain(int gain) override;
    unsigned getMinFrequency() override { return description.minFrequency; }
    unsigned getMaxFrequency() override { return description.maxFrequency; }
    void setFrequency(uint64_t hz) override;

private:
    void readLoop();
    // Logs a failed setting call; true when it succeeded.
    bool succeeded(int result, const char* call) const;
    void applySampleRate();
    void applyFilter();

    const SoapysdrLibrary& lib;
    const Description description;
    SoapyDeviceHandle* device = nullptr;
    SoapyStreamHandle* stream = nullptr;
    size_t elementsPerRead = 0;
    SampleCallback* samples = nullptr;   // the caller's, while open
    std::atomic<bool> stopping{false};
    std::thread reader;
};
