#include "devices/DeviceEnumerator.h"

#include "core/Log.h"
#include "devices/TCPInputDevice.h"
#include "devices/airspy/AirSpyDevice.h"
#include "devices/hackrf/HackRFDevice.h"
#include "devices/hackrf/HackrfSession.h"
#include "devices/lime/LimeSDRDevice.h"
#include "devices/pluto/PlutoSDRDevice.h"
#include "devices/rtlsdr/RTLSDRDevice.h"
#include "devices/sdrplay/SDRPlayDevice.h"
#include "devices/soapysdr/SoapySDRDevice.h"

#include <algorithm>

DeviceEnumerator::DeviceEnumerator(const DeviceLibraries& libraries)
{
    // Radios come first, each kind from its own library; a library that is
    // missing or fails only drops its own devices. The TCP input is always
    // the last local entry.
    if (libraries.hackrf != nullptr)
        listHackrf(*libraries.hackrf);
    if (libraries.rtlsdr != nullptr)
        listRtlsdr(*libraries.rtlsdr);
    if (libraries.lime != nullptr)
        listLime(*libraries.lime);
    if (libraries.sdrplay != nullptr)
        listSdrplay(*libraries.sdrplay);
    if (libraries.airspy != nullptr)
        listAirspy(*libraries.airspy);
    iio = libraries.iio;
    if (libraries.iio != nullptr)
        listPlutoLocal(*libraries.iio);
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

void DeviceEnumerator::listHackrf(const HackrfLibrary& library)
{
    hackrf = std::make_unique<HackrfSession>(library);
    for (int i = 0; i < hackrf->deviceCount(); ++i) {
        auto device = std::make_unique<HackRFDevice>(library, hackrf->deviceList(), i);
        device->setDeviceName(HackRFDevice::listingName(library, hackrf->deviceList(), i));
        append(std::move(device));
    }
}

void DeviceEnumerator::listLime(const LimeLibrary& library)
{
    // Room for radios plugged in between counting and listing.
    int count = library.GetDeviceList(nullptr);
    const int capacity = std::max(count, 0) + 8;
    std::unique_ptr<lms_info_str_t[]> infos(new lms_info_str_t[capacity]());
    if (count >= 0)
        count = library.GetDeviceList(infos.get());
    if (count < 0) {
        LogLine() << "LMS_GetDeviceList returned an error: " << count;
        return;
    }
    for (int i = 0; i < std::min(count, capacity); ++i) {
        infos[i][sizeof(lms_info_str_t) - 1] = '\0';
        auto device = std::make_unique<LimeSDRDevice>(library, infos[i], i);
        device->setDeviceName(LimeSDRDevice::listingName(infos[i]));
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

namespace {

std::string text(const char* s)
{
    return s != nullptr ? s : "";
}

} // namespace

void DeviceEnumerator::listPlutoLocal(const IioLibrary& library)
{
    iio_scan_context* scan = library.create_scan_context("local,usb", 0);
    if (scan == nullptr)
        return;
    iio_context_info** infos = nullptr;
    const ssize_t count = library.scan_context_get_info_list(scan, &infos);
    for (ssize_t i = 0; i < count; ++i) {
        const std::string description = text(library.context_info_get_description(infos[i]));
        LogLine() << "plutosdr local context: " << description;
        const char* uri = library.context_info_get_uri(infos[i]);
        iio_context* context = uri != nullptr ? library.create_context_from_uri(uri) : nullptr;
        if (context == nullptr)
            continue;
        auto device = std::make_unique<PlutoSDRDevice>(library, context);
        device->setDeviceName(description);
        append(std::move(device));
    }
    if (count >= 0 && infos != nullptr)
        library.context_info_list_free(infos);
    library.scan_context_destroy(scan);
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
    // An empty address would make the library search the network instead.
    if (iio == nullptr || address == nullptr || *address == '\0')
        return;
    iio_context* context = iio->create_network_context(address);
    if (context == nullptr)
        return;
    auto device = std::make_unique<PlutoSDRDevice>(*iio, context);
    device->setDeviceName(text(iio->context_get_description(context)));
    append(std::move(device));
}
