// A LimeSDR through LimeSuite: 12-bit samples read on a stream thread of its
// own, in reads of up to 16384 samples.
#pragma once

#include "devices/InputDevice.h"
#include "devices/RxControls.h"
#include "devices/lime/LimeLibrary.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LimeSDRDevice : public InputDevice, public LimeSDRRxControl {
public:
    // `info`: the device's entry in the library's device list, `listIndex`
    // its place there.
    LimeSDRDevice(const LimeLibrary& library, std::string info, int listIndex);
    ~LimeSDRDevice() override;

    std::string getTypeName() const override { return "LimeSDRDevice"; }
    bool open(SampleCallback& callback) override;
    void close() override;

    std::vector<uint64_t> getSampleRates() override;
    void setSampleRateIndex(unsigned index) override;
    // Ignored outside the range the device reports at open (0..0 before).
    void setFilterBandwidth(uint64_t hz) override;
    bool hasFilterBandwidth() override { return true; }
    int getMinGain() override { return 0; }
    int getMaxGain() override { return 1024; }
    void setGain(int gain) override;
    unsigned getMinFrequency() override { return 10000; }
    unsigned getMaxFrequency() override { return 2150000; }
    void setFrequency(uint64_t hz) override;

    // Both take effect at the next open().
    void setRXChannel(int channel) override;
    void setRXPath(int path) override;

    int getListIndex() const { return listIndex; }

    // "limesuite | <info>".
    static std::string listingName(const char* info);

private:
    // Logs "LMS_Close(dev)", closes and logs "<call> failed for "<name>"".
    void closeAfterFailure(const char* call);
    void streamLoop();

    const LimeLibrary& lib;
    const std::string info;
    const int listIndex;
    lms_device_t* device = nullptr;
    int rxChannel = 0;
    int rxPath = 3;   // LNAW
    int rxChannels = 0;
    LimeRange filterRange;
    // Set up at open; its channel is the one the setters address while open.
    LimeStream stream;
    SampleCallback* samples = nullptr;   // the caller's, while open

    // Serialises reads with the stop and restart of a sample-rate change.
    std::mutex streamMutex;
    std::atomic<bool> stopping{false};
    std::atomic<bool> streaming{false};
    std::thread streamer;
};
