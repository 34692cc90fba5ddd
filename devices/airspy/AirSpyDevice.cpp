#include "devices/airspy/AirSpyDevice.h"

#include "core/Log.h"

#include <algorithm>
#include <cstdio>

namespace {

// A 12-bit sample in a 16-bit word scaled to the full 16-bit range (× 16);
// the rare value beyond 12 bits is limited rather than wrapped.
int16_t convertTwelveBitSample(int16_t value)
{
    return int16_t(std::clamp(int32_t(value) * 16, -32768, 32767));
}

} // namespace

AirSpyDevice::AirSpyDevice(const AirspyLibrary& library, uint64_t serialNumber) : lib(library), serial(serialNumber)
{
}

AirSpyDevice::~AirSpyDevice()
{
    close();
}

std::string AirSpyDevice::listingName(const AirspyLibrary& library, uint64_t serial)
{
    airspy_device* probe = nullptr;
    char version[192] = {};
    const char* versionText = "(null)";
    const int result = library.open_sn(&probe, serial);
    if (result != 0 || probe == nullptr) {
        LogLine() << "airspy_open_sn returned " << result;
    } else {
        library.version_string_read(probe, version, uint8_t(sizeof version));
        version[sizeof version - 1] = '\0';
        library.close(probe);
        versionText = version;
    }
    char text[256];
    std::snprintf(text, sizeof text, "libairspy | %s | SERIAL: %llu", versionText, (unsigned long long)serial);
    return text;
}

bool AirSpyDevice::open(SampleCallback& callback)
{
    if (device != nullptr)
        close();
    if (lib.open_sn(&device, serial) != 0 || device == nullptr) {
        device = nullptr;
        return true;
    }
    readSampleRates();
    // Always the first rate the radio offers.
    setSampleRateIndex(0);
    lib.set_sample_type(device, AirspyLibrary::kSampleInt16Iq);
    lib.set_lna_agc(device, 1);
    lib.set_mixer_agc(device, 1);
    lib.set_packing(device, 0);
    // Frequency and gain wait for their next setter.
    samples = &callback;
    if (lib.start_rx(device, &receiver) != 0) {
        LogLine() << "airspy_start_rx failed for \"" << deviceName << "\"";
        // Reported as not open: nothing may stay claimed.
        lib.close(device);
        device = nullptr;
        samples = nullptr;
        return true;
    }
    return false;
}

void AirSpyDevice::readSampleRates()
{
    uint32_t count = 0;
    const int counted = lib.get_samplerates(device, &count, 0);
    LogLine() << "num samplerates: " << count;
    std::vector<uint32_t> read(std::min(count, kMaxSampleRates));
    // A radio that gives no list keeps the one it had.
    if (counted != 0 || read.empty() || lib.get_samplerates(device, read.data(), uint32_t(read.size())) != 0)
        return;
    rates.assign(read.begin(), read.end());
}

int AirSpyDevice::onTransfer(void* data, int sampleCount, void* context)
{
    auto* self = static_cast<AirSpyDevice*>(context);
    const auto* iq = static_cast<const int16_t*>(data);
    const size_t count = sampleCount > 0 ? size_t(sampleCount) : 0;
    self->converted.resize(2 * count);
    for (size_t k = 0; k < 2 * count; ++k)
        self->converted[k] = convertTwelveBitSample(iq[k]);
    self->deliver(*self->samples, self->converted.data(), count);
    return 0;
}

void AirSpyDevice::setSampleRateIndex(unsigned rateIndex)
{
    InputDevice::setSampleRateIndex(rateIndex);
    if (device != nullptr && rateIndex < rates.size())
        lib.set_samplerate(device, uint32_t(rates[rateIndex]));
}

void AirSpyDevice::setFrequency(uint64_t hz)
{
    InputDevice::setFrequency(hz);
    if (device != nullptr)
        lib.set_freq(device, uint32_t(hz));
}

void AirSpyDevice::setGain(int value)
{
    InputDevice::setGain(value);
    if (device != nullptr)
        lib.set_vga_gain(device, uint8_t(value & 0xFF));
}

void AirSpyDevice::close()
{
    if (device == nullptr)
        return;
    // After close the library calls back no more.
    lib.stop_rx(device);
    lib.close(device);
    device = nullptr;
    samples = nullptr;
}
