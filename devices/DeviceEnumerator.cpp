#include "devices/DeviceEnumerator.h"

#include "core/Log.h"
#include "devices/TCPInputDevice.h"

DeviceEnumerator::DeviceEnumerator()
{
    // Radios come first, each kind from its own library, as drivers are built
    // in; a library that fails only drops its own devices. The TCP input is
    // always the last local entry.
    auto tcpInput = std::make_unique<TCPInputDevice>();
    tcp = tcpInput.get();
    append(std::move(tcpInput));
}

DeviceEnumerator::~DeviceEnumerator() = default;

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
