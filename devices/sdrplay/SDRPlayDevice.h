// An SDRplay receiver through the SDRplay API 3: 16-bit I and Q arrays
// delivered on the API's thread. One SDRplay device streams at a time.
#pragma once

#include "devices/InputDevice.h"
#include "devices/RxControls.h"
#include "devices/sdrplay/SdrplayLibrary.h"

#include <atomic>
#include <vector>

class SDRPlayDevice : public InputDevice, public SDRPlayRxControl {
public:
    SDRPlayDevice(const SdrplayLibrary& library, const sdrplay_api_DeviceT& record);
    ~SDRPlayDevice() override;

    std::string getTypeName() const override { return "SDRPlayDevice"; }
    bool open(SampleCallback& callback) override;
    void close() override;

    std::vector<uint64_t> getSampleRates() override;
    void setSampleRateIndex(unsigned index) override;
    bool hasFilterBandwidth() override { return false; }
    int getMinGain() override { return 20; }
    int getMaxGain() override { return 59; }
    void setGain(int gain) override;
    unsigned getMinFrequency() override { return 100; }
    unsigned getMaxFrequency() override { return 2000000; }
    void setFrequency(uint64_t hz) override;

    // 0 = tuner A, any other value tuner B; applies at the next open().
    void setRXChannel(int channel) override;
    int getRXChannel() const { return rxChannel; }

    // "sdrplay | SerNo: …, hwVer: …, tuner: 0x…"
    static std::string listingName(const sdrplay_api_DeviceT& record);
    // The device streaming now, if any.
    static const SDRPlayDevice* activeDevice() { return active.load(); }

private:
    static void onStreamA(short* xi, short* xq, sdrplay_api_StreamCbParamsT* params, unsigned int numSamples,
                          unsigned int reset, void* context);
    static void onStreamB(short*, short*, sdrplay_api_StreamCbParamsT*, unsigned int, unsigned int, void*) {}
    static void onEvent(sdrplay_api_EventT, sdrplay_api_TunerSelectT, sdrplay_api_EventParamsT*, void*) {}

    bool isActive() const { return active.load() == this; }
    sdrplay_api_TunerSelectT tuner() const { return rxChannel != 0 ? sdrplay_api_Tuner_B : sdrplay_api_Tuner_A; }
    const char* errorText(sdrplay_api_ErrT err) const;
    void release();

    static std::atomic<SDRPlayDevice*> active;

    const SdrplayLibrary& lib;
    sdrplay_api_DeviceT record;
    int rxChannel = 0;
    sdrplay_api_DeviceParamsT* params = nullptr;    // the API's, while open
    sdrplay_api_RxChannelParamsT* channel = nullptr;
    bool streaming = false;                          // the API runs its stream
    SampleCallback samples;                          // a copy, while open
    std::vector<int16_t> converted;                  // on the API's thread
};
