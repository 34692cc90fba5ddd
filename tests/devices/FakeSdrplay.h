// A stand-in for the SDRplay API: every call recorded with the parameter
// values it sends, a chosen call made to fail, and Init() starting an API
// thread that hands given samples to the stream-A callback until Uninit().
#pragma once

#include "devices/sdrplay/SdrplayLibrary.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeSdrplay {
public:
    FakeSdrplay();
    ~FakeSdrplay();

    const SdrplayLibrary& library() const { return table; }

    static sdrplay_api_DeviceT record(const char* serial, unsigned char hwVer, sdrplay_api_TunerSelectT tuner);

    std::vector<sdrplay_api_DeviceT> devices{record("1812000A17", 255, sdrplay_api_Tuner_A)};
    std::string failing;              // the call that answers sdrplay_api_Fail, e.g. "Init"
    int stopPendingUninits = 0;       // Uninit answers "stop pending" this many times first
    bool dualTuner = false;           // the parameter block has a tuner B
    bool noParameterBlock = false;    // GetDeviceParams succeeds with no block
    std::vector<int16_t> stream;      // interleaved I, Q delivered after Init
    size_t samplesPerCallback = 1008;

    // The calls so far, as "Name(values)".
    std::vector<std::string> calls() const;
    bool streamDelivered() const;

    sdrplay_api_RxChannelParamsT channelA{}, channelB{};
    sdrplay_api_DevParamsT deviceParams{};

private:
    static FakeSdrplay* current;
    SdrplayLibrary table;
    sdrplay_api_DeviceParamsT parameterBlock{};
    mutable std::mutex mutex;
    std::vector<std::string> recorded;
    bool delivered = false;
    bool stopRequested = false;
    std::thread apiThread;

    sdrplay_api_ErrT record(const std::string& name, const std::string& values = "");
    sdrplay_api_ErrT init(sdrplay_api_Handle dev, sdrplay_api_CallbackFnsT* callbacks, void* context);
    sdrplay_api_ErrT uninit();
    sdrplay_api_ErrT update(sdrplay_api_TunerSelectT tuner, sdrplay_api_ReasonForUpdateT reason);
    void streamLoop(sdrplay_api_StreamCallback_t callback, void* context);
};
