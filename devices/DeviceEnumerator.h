// The list of input devices, built once at start-up from what is attached.
#pragma once

#include "devices/DeviceLibraries.h"
#include "devices/InputDevice.h"

#include <memory>
#include <vector>

class TCPInputDevice;
class HackrfSession;
class SdrplayApiSession;

// Lists, in this order: HackRF, RTL-SDR, LimeSDR, SDRplay, Airspy, local
// PlutoSDR radios and any other radio SoapySDR finds (each driver built in
// adds its own), then the TCP input,
// then PlutoSDRs reached over the network. The list order is the order of the
// window's device list. The devices live as long as the enumerator.
class DeviceEnumerator {
public:
    explicit DeviceEnumerator(const DeviceLibraries& libraries = DeviceLibraries::system());
    ~DeviceEnumerator();
    DeviceEnumerator(const DeviceEnumerator&) = delete;
    DeviceEnumerator& operator=(const DeviceEnumerator&) = delete;

    // Adds a PlutoSDR at a network address (UTF-8), if one answers there.
    void addNetworkContext(const char* address);

    const std::vector<InputDevice*>& devices() const { return list; }
    TCPInputDevice& tcpDevice() const { return *tcp; }

private:
    void append(std::unique_ptr<InputDevice> device);
    void listRtlsdr(const RtlsdrLibrary& library);
    void listHackrf(const HackrfLibrary& library);
    void listAirspy(const AirspyLibrary& library);
    void listLime(const LimeLibrary& library);
    void listPlutoLocal(const IioLibrary& library);
    void listSdrplay(const SdrplayLibrary& library);
    void listSoapysdr(const SoapysdrLibrary& library);

    // Declared before the devices so that it outlives them: HackRF devices
    // are opened by index into its list.
    std::unique_ptr<HackrfSession> hackrf;
    std::unique_ptr<SdrplayApiSession> sdrplayApi;   // before the devices: closed after them
    std::vector<std::unique_ptr<InputDevice>> owned;
    std::vector<InputDevice*> list;
    TCPInputDevice* tcp = nullptr;
    const IioLibrary* iio = nullptr;   // for network PlutoSDRs
};
