// The functions of the SDRplay API the SDRplay device uses, as a table: the
// vendor library's, loaded at run time when it is installed, or a test's
// stand-ins.
#pragma once

#include "devices/sdrplay/SdrplayApi.h"

struct SdrplayLibrary {
    sdrplay_api_ErrT (*Open)();
    sdrplay_api_ErrT (*Close)();
    sdrplay_api_ErrT (*LockDeviceApi)();
    sdrplay_api_ErrT (*UnlockDeviceApi)();
    sdrplay_api_ErrT (*GetDevices)(sdrplay_api_DeviceT* devices, unsigned int* numDevs, unsigned int maxDevs);
    sdrplay_api_ErrT (*SelectDevice)(sdrplay_api_DeviceT* device);
    sdrplay_api_ErrT (*ReleaseDevice)(sdrplay_api_DeviceT* device);
    const char* (*GetErrorString)(sdrplay_api_ErrT err);
    sdrplay_api_ErrT (*GetDeviceParams)(sdrplay_api_Handle dev, sdrplay_api_DeviceParamsT** deviceParams);
    sdrplay_api_ErrT (*Init)(sdrplay_api_Handle dev, sdrplay_api_CallbackFnsT* callbackFns, void* cbContext);
    sdrplay_api_ErrT (*Uninit)(sdrplay_api_Handle dev);
    sdrplay_api_ErrT (*Update)(sdrplay_api_Handle dev, sdrplay_api_TunerSelectT tuner,
                               sdrplay_api_ReasonForUpdateT reason,
                               sdrplay_api_ReasonForUpdateExtension1T reasonExt1);
};

// The file the vendor installs.
inline const char kSdrplayLibraryFile[] = "libsdrplay_api.so.3";

// Loads the shared library `file` and fills `table` with its functions.
// False, with one log line, when the library is not there or lacks one of
// them. The library stays loaded for the life of the program.
bool loadSdrplayLibrary(const char* file, SdrplayLibrary& table);

// The installed API, loaded on the first call; null when it is not there.
const SdrplayLibrary* systemSdrplayLibrary();

// Holds the API for the devices listed from it and closes it when destroyed,
// whether or not it could be opened.
class SdrplayApiSession {
public:
    explicit SdrplayApiSession(const SdrplayLibrary& library) : lib(library) {}
    ~SdrplayApiSession() { lib.Close(); }
    SdrplayApiSession(const SdrplayApiSession&) = delete;
    SdrplayApiSession& operator=(const SdrplayApiSession&) = delete;

private:
    const SdrplayLibrary& lib;
};
