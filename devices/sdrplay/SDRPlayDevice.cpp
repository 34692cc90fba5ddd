#include "devices/sdrplay/SDRPlayDevice.h"

#include "core/Log.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

std::atomic<SDRPlayDevice*> SDRPlayDevice::active{nullptr};

namespace {

// The tuner bandwidth for each listed rate, in list order.
const sdrplay_api_Bw_MHzT kBandwidthForRate[] = {sdrplay_api_BW_8_000, sdrplay_api_BW_8_000, sdrplay_api_BW_8_000,
                                                 sdrplay_api_BW_7_000, sdrplay_api_BW_6_000, sdrplay_api_BW_5_000};

// How often close() asks the API again while it is still stopping.
constexpr int kMaxStopPendingRetries = 50;

} // namespace

SDRPlayDevice::SDRPlayDevice(const SdrplayLibrary& library, const sdrplay_api_DeviceT& deviceRecord)
    : lib(library), record(deviceRecord)
{
}

SDRPlayDevice::~SDRPlayDevice()
{
    close();
}

std::string SDRPlayDevice::listingName(const sdrplay_api_DeviceT& record)
{
    const std::string serial(record.SerNo, strnlen(record.SerNo, sizeof record.SerNo));
    char text[256];
    std::snprintf(text, sizeof text, "sdrplay | SerNo: %s, hwVer: %d, tuner: 0x%.2x", serial.c_str(),
                  int(record.hwVer), unsigned(record.tuner));
    return text;
}

std::vector<uint64_t> SDRPlayDevice::getSampleRates()
{
    return {8000000, 9000000, 10000000, 7000000, 6000000, 5000000};
}

const char* SDRPlayDevice::errorText(sdrplay_api_ErrT err) const
{
    const char* text = lib.GetErrorString(err);
    return text != nullptr ? text : "";
}

bool SDRPlayDevice::open(SampleCallback& callback)
{
    if (active.load() != nullptr)
        return true;   // another device (or this one) streams

    lib.LockDeviceApi();
    sdrplay_api_ErrT err = lib.SelectDevice(&record);
    if (err != sdrplay_api_Success) {
        LogLine() << "sdrplay_api_SelectDevice failed:\n  " << errorText(err);
        lib.UnlockDeviceApi();
        return true;
    }
    lib.UnlockDeviceApi();

    // From here on every failure gives the selected device back, so that it
    // can be selected again.
    sdrplay_api_DeviceParamsT* deviceParams = nullptr;
    err = lib.GetDeviceParams(record.dev, &deviceParams);
    if (err != sdrplay_api_Success) {
        LogLine() << "sdrplay_api_GetDeviceParams failed:\n  " << errorText(err);
        lib.ReleaseDevice(&record);
        return true;
    }
    sdrplay_api_RxChannelParamsT* rx = nullptr;
    if (deviceParams != nullptr)
        rx = rxChannel != 0 ? deviceParams->rxChannelB : deviceParams->rxChannelA;
    SDRPlayDevice* none = nullptr;
    if (rx == nullptr || !active.compare_exchange_strong(none, this)) {
        lib.ReleaseDevice(&record);
        return true;
    }
    params = deviceParams;
    channel = rx;
    if (params->devParams != nullptr)   // a dual tuner's second half has none
        params->devParams->fsFreq.fsHz = double(getSampleRates().front());

    channel->tunerParams.bwType = sdrplay_api_BW_8_000;
    channel->tunerParams.ifType = sdrplay_api_IF_Zero;
    channel->tunerParams.gain.gRdB = 40;
    channel->tunerParams.gain.LNAstate = 1;
    channel->ctrlParams.agc.enable = sdrplay_api_AGC_DISABLE;

    samples = callback;
    // Always the first listed rate; Init takes it from the parameter block.
    setSampleRateIndex(0);

    sdrplay_api_CallbackFnsT callbacks{&SDRPlayDevice::onStreamA, &SDRPlayDevice::onStreamB,
                                       &SDRPlayDevice::onEvent};
    err = lib.Init(record.dev, &callbacks, this);
    if (err != sdrplay_api_Success) {
        active.store(nullptr);
        LogLine() << "sdrplay_api_Init failed with err: " << errorText(err);
        release();
        return true;
    }
    streaming = true;
    return false;
}

void SDRPlayDevice::onStreamA(short* xi, short* xq, sdrplay_api_StreamCbParamsT*, unsigned int numSamples,
                              unsigned int, void* context)
{
    auto* self = static_cast<SDRPlayDevice*>(context);
    self->converted.resize(2 * size_t(numSamples));
    for (unsigned int k = 0; k < numSamples; ++k) {
        self->converted[2 * k] = xi[k];
        self->converted[2 * k + 1] = xq[k];
    }
    self->deliver(self->samples, self->converted.data(), numSamples);
}

void SDRPlayDevice::setSampleRateIndex(unsigned rateIndex)
{
    if (rateIndex >= getSampleRates().size())
        return;   // not a listed rate: nothing changes
    InputDevice::setSampleRateIndex(rateIndex);
    if (!isActive())
        return;
    channel->tunerParams.bwType = kBandwidthForRate[rateIndex];
    if (params->devParams != nullptr)
        params->devParams->fsFreq.fsHz = double(sampleRate);
    if (!streaming)
        return;   // opening: Init applies the block as it stands
    sdrplay_api_ErrT err = lib.Update(record.dev, tuner(), sdrplay_api_Update_Dev_Fs, sdrplay_api_Update_Ext1_None);
    if (err != sdrplay_api_Success)
        LogLine() << "sdrplay_api_Update sdrplay_api_Update_Dev_Fs failed: " << int(err);
    err = lib.Update(record.dev, tuner(), sdrplay_api_Update_Tuner_BwType, sdrplay_api_Update_Ext1_None);
    if (err != sdrplay_api_Success)
        LogLine() << "sdrplay_api_Update sdrplay_api_Update_Tuner_BwType failed: " << int(err);
}

void SDRPlayDevice::setFrequency(uint64_t hz)
{
    LogLine() << "Changing sdrplay fr freq. to " << hz;
    if (streaming) {
        channel->tunerParams.rfFreq.rfHz = double(hz);
        const sdrplay_api_ErrT err =
            lib.Update(record.dev, tuner(), sdrplay_api_Update_Tuner_Frf, sdrplay_api_Update_Ext1_None);
        if (err != sdrplay_api_Success) {
            LogLine() << "SDRPlayDevice::setFrequency: An error occured setting the RF Frequency to " << hz << ". "
                      << errorText(err);
            return;
        }
    }
    InputDevice::setFrequency(hz);
}

void SDRPlayDevice::setGain(int value)
{
    if (value < getMinGain() || value > getMaxGain())
        return;
    if (streaming) {
        // The slider's top is the least gain reduction.
        channel->tunerParams.gain.gRdB = getMinGain() + getMaxGain() - value;
        const sdrplay_api_ErrT err =
            lib.Update(record.dev, tuner(), sdrplay_api_Update_Tuner_Gr, sdrplay_api_Update_Ext1_None);
        if (err != sdrplay_api_Success) {
            LogLine() << "SDRPlayDevice::setGain: An error occured setting the RF gain. " << errorText(err);
            return;
        }
    }
    InputDevice::setGain(value);
}

void SDRPlayDevice::setRXChannel(int value)
{
    rxChannel = value;
    LogLine() << "SDRPlayDevice::setRXChannel(" << value << ")";
}

void SDRPlayDevice::close()
{
    if (!streaming)
        return;
    LogLine() << "SDRPlayDevice::close";
    sdrplay_api_ErrT err = lib.Uninit(record.dev);
    for (int retry = 0; err == sdrplay_api_StopPending && retry < kMaxStopPendingRetries; ++retry) {
        LogLine() << (retry == 0 ? "sdrplay_api_Uninit returned sdrplay_api_StopPending, so let's wait for 100ms" : ".");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        err = lib.Uninit(record.dev);
    }
    if (err != sdrplay_api_Success)
        LogLine() << "sdrplay_api_Uninit returned err: " << errorText(err);
    release();
    active.store(nullptr);
}

void SDRPlayDevice::release()
{
    lib.ReleaseDevice(&record);
    streaming = false;
    params = nullptr;
    channel = nullptr;
    samples = nullptr;
}
