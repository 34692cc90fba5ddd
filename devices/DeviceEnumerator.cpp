#include "devices/DeviceEnumerator.h"

#include "core/Log.h"
#include "devices/TCPInputDevice.h"
#include "devices/rtlsdr/RTLSDRDevice.h"
#include "devices/sdrplay/SDRPlayDevice.h"
#include "devices/soapysdr/SoapySDRDevice.h"

DeviceEnumerator::DeviceEnumerator(const DeviceLibraries& libraries)
{
    // Radios come first, each kind from its own library; a library that is
    // missing or fails only drops its own devices. The TCP input is always
    // the last local entry.
    if (libraries.rtlsdr != nullptr)
        listRtlsdr(*libraries.rtlsdr);
    if (libraries.sdrplay != nullptr)
        listSdrplay(*libraries.sdrplay);
    // Any other radio, after those with drivers of their own.
    if (libraries.soapysdr != nullptr)
        listSoapysdr(*libraries.soapysdr);

    auto tcpInput = std::make_unique<TCPInputDevice>();
    tcp = tcpInput.get();
    append(std::move(tcpInput));
}

DeviceEnumerator::~DeviceEnumerator() = default;

void DeviceEnumerator::listRtlsdr(const RtlsdrLibrary& library)
{
    const uint32_t count = library.get_device_count();
    for (uint32_t i = 0; i < count; ++i) {
        auto device = std::make_unique<RTLSDRDevice>(library, i);
        device->setDeviceName(RTLSDRDevice::listingName(library, i));
        append(std::move(device));
    }
}

void DeviceEnumerator::listSdrplay(const SdrplayLibrary& library)
{
    sdrplayApi = std::make_unique<SdrplayApiSession>(library);
    if (library.Open() != sdrplay_api_Success)
        return;
    library.LockDeviceApi();
    sdrplay_api_DeviceT records[8] = {};
    unsigned int count = 0;
    if (library.GetDevices(records, &count, 8) == sdrplay_api_Success) {
        for (unsigned int i = 0; i < count && i < 8; ++i) {
            auto device = std::make_unique<SDRPlayDevice>(library, records[i]);
            device->setDeviceName(SDRPlayDevice::listingName(records[i]));
            append(std::move(device));
        }
    }
    library.UnlockDeviceApi();
}

void DeviceEnumerator::listSoapysdr(const SoapysdrLibrary& library)
{
    for (std::unique_ptr<SoapySDRDevice>& device : SoapySDRDevice::enumerate(library))
        append(std::move(device));
}

void DeviceEnumerator::append(std::unique_ptr<InputDevice> device)
{
    list.push_back(device.get());
    owned.push_back(std::move(device));
}

void DeviceEnumerator::addNetworkContext(const char* address)
{
    LogLine() << "plutosdr network context: " << (address ? address : "");
    // Without PlutoSDR support there is no context to create: nothing is added.
}
