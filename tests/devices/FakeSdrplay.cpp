#include "tests/devices/FakeSdrplay.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

FakeSdrplay* FakeSdrplay::current = nullptr;

namespace {

std::string tunerName(sdrplay_api_TunerSelectT tuner)
{
    return tuner == sdrplay_api_Tuner_A ? "A" : tuner == sdrplay_api_Tuner_B ? "B" : std::to_string(int(tuner));
}

std::string number(double value)
{
    return std::to_string(static_cast<long long>(value));
}

} // namespace

sdrplay_api_DeviceT FakeSdrplay::record(const char* serial, unsigned char hwVer, sdrplay_api_TunerSelectT tuner)
{
    sdrplay_api_DeviceT device{};
    std::snprintf(device.SerNo, sizeof device.SerNo, "%s", serial);
    device.hwVer = hwVer;
    device.tuner = tuner;
    device.valid = 1;
    device.dev = reinterpret_cast<sdrplay_api_Handle>(0x5d9);
    return device;
}

FakeSdrplay::FakeSdrplay()
{
    if (current != nullptr)
        throw std::logic_error("one FakeSdrplay at a time");
    current = this;
    table.Open = [] { return current->record("Open"); };
    table.Close = [] { return current->record("Close"); };
    table.LockDeviceApi = [] { return current->record("LockDeviceApi"); };
    table.UnlockDeviceApi = [] { return current->record("UnlockDeviceApi"); };
    table.GetDevices = [](sdrplay_api_DeviceT* devices, unsigned int* count, unsigned int maxDevs) {
        const sdrplay_api_ErrT err = current->record("GetDevices", std::to_string(maxDevs));
        *count = 0;
        if (err == sdrplay_api_Success)
            for (const sdrplay_api_DeviceT& d : current->devices)
                if (*count < maxDevs)
                    devices[(*count)++] = d;
        return err;
    };
    table.SelectDevice = [](sdrplay_api_DeviceT* d) { return current->record("SelectDevice", d->SerNo); };
    table.ReleaseDevice = [](sdrplay_api_DeviceT* d) { return current->record("ReleaseDevice", d->SerNo); };
    table.GetErrorString = [](sdrplay_api_ErrT err) {
        return err == sdrplay_api_Fail ? "sdrplay_api_Fail" : err == sdrplay_api_StopPending ? "StopPending" : "?";
    };
    table.GetDeviceParams = [](sdrplay_api_Handle, sdrplay_api_DeviceParamsT** block) {
        FakeSdrplay& self = *current;
        const sdrplay_api_ErrT err = self.record("GetDeviceParams");
        self.parameterBlock = {&self.deviceParams, &self.channelA, self.dualTuner ? &self.channelB : nullptr};
        *block = err == sdrplay_api_Success && !self.noParameterBlock ? &self.parameterBlock : nullptr;
        return err;
    };
    table.Init = [](sdrplay_api_Handle dev, sdrplay_api_CallbackFnsT* callbacks, void* context) {
        return current->init(dev, callbacks, context);
    };
    table.Uninit = [](sdrplay_api_Handle) { return current->uninit(); };
    table.Update = [](sdrplay_api_Handle, sdrplay_api_TunerSelectT tuner, sdrplay_api_ReasonForUpdateT reason,
                      sdrplay_api_ReasonForUpdateExtension1T) { return current->update(tuner, reason); };
}

FakeSdrplay::~FakeSdrplay()
{
    if (apiThread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopRequested = true;
        }
        apiThread.join();
    }
    current = nullptr;
}

sdrplay_api_ErrT FakeSdrplay::record(const std::string& name, const std::string& values)
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.push_back(name + "(" + values + ")");
    return name == failing ? sdrplay_api_Fail : sdrplay_api_Success;
}

sdrplay_api_ErrT FakeSdrplay::init(sdrplay_api_Handle, sdrplay_api_CallbackFnsT* callbacks, void* context)
{
    // What the device has put into the block by now is what the API starts with.
    const sdrplay_api_RxChannelParamsT& rx = parameterBlock.rxChannelB != nullptr &&
                                                     channelB.tunerParams.bwType != sdrplay_api_BW_Undefined
                                                 ? channelB
                                                 : channelA;
    const sdrplay_api_TunerParamsT& t = rx.tunerParams;
    const sdrplay_api_ErrT err =
        record("Init", "fs=" + number(deviceParams.fsFreq.fsHz) + " bw=" + std::to_string(int(t.bwType)) +
                           " if=" + std::to_string(int(t.ifType)) + " gr=" + std::to_string(t.gain.gRdB) +
                           " lna=" + std::to_string(int(t.gain.LNAstate)) +
                           " agc=" + std::to_string(int(rx.ctrlParams.agc.enable)) + (&rx == &channelB ? " B" : ""));
    if (err != sdrplay_api_Success)
        return err;
    stopRequested = false;
    apiThread = std::thread(&FakeSdrplay::streamLoop, this, callbacks->StreamACbFn, context);
    return err;
}

void FakeSdrplay::streamLoop(sdrplay_api_StreamCallback_t callback, void* context)
{
    std::vector<short> xi, xq;
    const size_t total = stream.size() / 2;
    for (size_t at = 0; at < total; at += samplesPerCallback) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopRequested)
                return;
        }
        const size_t n = std::min(samplesPerCallback, total - at);
        xi.resize(n);
        xq.resize(n);
        for (size_t k = 0; k < n; ++k) {
            xi[k] = stream[2 * (at + k)];
            xq[k] = stream[2 * (at + k) + 1];
        }
        sdrplay_api_StreamCbParamsT params{unsigned(at), 0, 0, 0, unsigned(n)};
        callback(xi.data(), xq.data(), &params, unsigned(n), at == 0 ? 1 : 0, context);
    }
    std::lock_guard<std::mutex> lock(mutex);
    delivered = true;
}

sdrplay_api_ErrT FakeSdrplay::uninit()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopPendingUninits > 0) {
            --stopPendingUninits;
            recorded.push_back("Uninit()");
            return sdrplay_api_StopPending;
        }
        stopRequested = true;
    }
    // The stream has stopped once Uninit returns.
    if (apiThread.joinable())
        apiThread.join();
    return record("Uninit");
}

sdrplay_api_ErrT FakeSdrplay::update(sdrplay_api_TunerSelectT tuner, sdrplay_api_ReasonForUpdateT reason)
{
    const sdrplay_api_RxChannelParamsT& rx = tuner == sdrplay_api_Tuner_B ? channelB : channelA;
    std::string values = tunerName(tuner) + " ";
    switch (reason) {
    case sdrplay_api_Update_Dev_Fs: values += "Dev_Fs fs=" + number(deviceParams.fsFreq.fsHz); break;
    case sdrplay_api_Update_Tuner_BwType: values += "Tuner_BwType bw=" + std::to_string(int(rx.tunerParams.bwType)); break;
    case sdrplay_api_Update_Tuner_Gr: values += "Tuner_Gr gr=" + std::to_string(rx.tunerParams.gain.gRdB); break;
    case sdrplay_api_Update_Tuner_Frf: values += "Tuner_Frf rf=" + number(rx.tunerParams.rfFreq.rfHz); break;
    default: values += std::to_string(int(reason)); break;
    }
    return record("Update", values);
}

std::vector<std::string> FakeSdrplay::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

bool FakeSdrplay::streamDelivered() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return delivered;
}
