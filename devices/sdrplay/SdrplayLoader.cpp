#include "devices/sdrplay/SdrplayLibrary.h"

#include "core/Log.h"

#include <dlfcn.h>

namespace {

template <typename Function>
bool bind(void* handle, const char* name, Function& slot)
{
    slot = reinterpret_cast<Function>(dlsym(handle, name));
    return slot != nullptr;
}

} // namespace

bool loadSdrplayLibrary(const char* file, SdrplayLibrary& table)
{
    void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        LogLine() << "SDRplay API library " << file << " not found, no SDRplay devices";
        return false;
    }
    SdrplayLibrary loaded{};
    const char* missing = nullptr;
    const auto need = [&](const char* name, auto& slot) {
        if (missing == nullptr && !bind(handle, name, slot))
            missing = name;
    };
    need("sdrplay_api_Open", loaded.Open);
    need("sdrplay_api_Close", loaded.Close);
    need("sdrplay_api_LockDeviceApi", loaded.LockDeviceApi);
    need("sdrplay_api_UnlockDeviceApi", loaded.UnlockDeviceApi);
    need("sdrplay_api_GetDevices", loaded.GetDevices);
    need("sdrplay_api_SelectDevice", loaded.SelectDevice);
    need("sdrplay_api_ReleaseDevice", loaded.ReleaseDevice);
    need("sdrplay_api_GetErrorString", loaded.GetErrorString);
    need("sdrplay_api_GetDeviceParams", loaded.GetDeviceParams);
    need("sdrplay_api_Init", loaded.Init);
    need("sdrplay_api_Uninit", loaded.Uninit);
    need("sdrplay_api_Update", loaded.Update);
    if (missing != nullptr) {
        LogLine() << "SDRplay API library " << file << " has no " << missing << ", no SDRplay devices";
        dlclose(handle);
        return false;
    }
    table = loaded;
    return true;
}

const SdrplayLibrary* systemSdrplayLibrary()
{
    static SdrplayLibrary table{};
    static const bool loaded = loadSdrplayLibrary(kSdrplayLibraryFile, table);
    return loaded ? &table : nullptr;
}
