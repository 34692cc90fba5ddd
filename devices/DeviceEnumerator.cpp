#include "devices/DeviceEnumerator.h"

#include "core/Log.h"
#include "devices/TCPInputDevice.h"
#include "devices/rtlsdr/RTLSDRDevice.h"
#include "devices/airspy/AirSpyDevice.h"
#include "devices/hackrf/HackRFDevice.h"
#include "devices/hackrf/HackrfSession.h"

DeviceEnumerator::DeviceEnumerator(const DeviceLibraries& libraries)
{
    // Radios come first, each kind from its own library; a library that is
    // missing or fails only drops its own devices. The TCP input is always
    // the last local entry.
    if (libraries.hackrf != nullptr)
        listHackrf(*libraries.hackrf);
    if (libraries.rtlsdr != nullptr)
        listRtlsdr(*libraries.rtlsdr);
    if (libraries.airspy != nullptr)
        listAirspy(*libraries.airspy);

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

void DeviceEnumerator::listHackrf(const HackrfLibrary& library)
{
    hackrf = std::make_unique<HackrfSession>(library);
    for (int i = 0; i < hackrf->deviceCount(); ++i) {
        auto device = std::make_unique<HackRFDevice>(library, hackrf->deviceList(), i);
        device->setDeviceName(HackRFDevice::listingName(library, hackrf->deviceList(), i));
        append(std::move(device));
    }
}

void DeviceEnumerator::listAirspy(const AirspyLibrary& library)
{
    AirspyLibrary::Version version{};
    library.lib_version(&version);
    LogLine() << "libairspy version: " << version.major << "." << version.minor << "." << version.revision;
    uint64_t serials[8] = {};
    const int found = library.list_devices(serials, 8);
    LogLine() << "libairspy num_devices: " << found;
    for (int i = 0; i < found && i < 8; ++i) {
        auto device = std::make_unique<AirSpyDevice>(library, serials[i]);
        device->setDeviceName(AirSpyDevice::listingName(library, serials[i]));
        append(std::move(device));
    }
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
