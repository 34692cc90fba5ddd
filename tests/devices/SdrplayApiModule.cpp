// A shared library exporting the SDRplay API's functions under their own
// names, for the loading tests: it lists one receiver and every call succeeds.
#include "devices/sdrplay/SdrplayApi.h"

#include <cstdio>

#define API extern "C" __attribute__((visibility("default")))

API sdrplay_api_ErrT sdrplay_api_Open() { return sdrplay_api_Success; }
API sdrplay_api_ErrT sdrplay_api_Close() { return sdrplay_api_Success; }
API sdrplay_api_ErrT sdrplay_api_LockDeviceApi() { return sdrplay_api_Success; }
API sdrplay_api_ErrT sdrplay_api_UnlockDeviceApi() { return sdrplay_api_Success; }

API sdrplay_api_ErrT sdrplay_api_GetDevices(sdrplay_api_DeviceT* devices, unsigned int* numDevs, unsigned int maxDevs)
{
    *numDevs = 0;
    if (maxDevs == 0)
        return sdrplay_api_Success;
    devices[0] = sdrplay_api_DeviceT{};
    std::snprintf(devices[0].SerNo, sizeof devices[0].SerNo, "%s", "MODULE1");
    devices[0].hwVer = 2;
    devices[0].tuner = sdrplay_api_Tuner_A;
    *numDevs = 1;
    return sdrplay_api_Success;
}

API sdrplay_api_ErrT sdrplay_api_SelectDevice(sdrplay_api_DeviceT*) { return sdrplay_api_Success; }
API sdrplay_api_ErrT sdrplay_api_ReleaseDevice(sdrplay_api_DeviceT*) { return sdrplay_api_Success; }

API const char* sdrplay_api_GetErrorString(sdrplay_api_ErrT err)
{
    return err == sdrplay_api_Fail ? "module: fail" : "module: other";
}

API sdrplay_api_ErrT sdrplay_api_GetDeviceParams(sdrplay_api_Handle, sdrplay_api_DeviceParamsT** params)
{
    *params = nullptr;
    return sdrplay_api_Success;
}

API sdrplay_api_ErrT sdrplay_api_Init(sdrplay_api_Handle, sdrplay_api_CallbackFnsT*, void*) { return sdrplay_api_Success; }
API sdrplay_api_ErrT sdrplay_api_Uninit(sdrplay_api_Handle) { return sdrplay_api_Success; }

API sdrplay_api_ErrT sdrplay_api_Update(sdrplay_api_Handle, sdrplay_api_TunerSelectT, sdrplay_api_ReasonForUpdateT,
                                        sdrplay_api_ReasonForUpdateExtension1T)
{
    return sdrplay_api_Success;
}
