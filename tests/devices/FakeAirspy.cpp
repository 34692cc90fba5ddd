#include "tests/devices/FakeAirspy.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

FakeAirspy* FakeAirspy::current = nullptr;

namespace {

// Radio k of the list is handle k + 1.
airspy_device* handleOf(size_t k)
{
    return reinterpret_cast<airspy_device*>(uintptr_t(k + 1));
}

size_t radioOf(airspy_device* device)
{
    return size_t(reinterpret_cast<uintptr_t>(device)) - 1;
}

std::string arg(uint64_t value)
{
    return std::to_string(value);
}

} // namespace

FakeAirspy::FakeAirspy()
{
    if (current != nullptr)
        throw std::logic_error("one FakeAirspy at a time");
    current = this;
    table.lib_version = [](AirspyLibrary::Version* v) { *v = current->version; };
    table.list_devices = [](uint64_t* serials, int count) {
        current->record("list_devices(" + std::to_string(count) + ")");
        int found = 0;
        for (const Radio& radio : current->radios)
            if (found < count)
                serials[found++] = radio.serial;
        return found;
    };
    table.open_sn = [](airspy_device** device, uint64_t serial) { return current->openSerial(device, serial); };
    table.close = [](airspy_device*) {
        // The library ends its receive thread before it lets the device go.
        current->receiver.stop();
        return current->record("close()");
    };
    table.version_string_read = [](airspy_device* device, char* text, uint8_t length) {
        const int result = current->record("version_string_read(" + arg(length) + ")");
        if (result == 0 && length > 0) {
            const std::string& v = current->radios.at(radioOf(device)).version;
            const size_t n = std::min(v.size(), size_t(length) - 1);
            std::memcpy(text, v.data(), n);
            text[n] = '\0';
        }
        return result;
    };
    table.get_samplerates = [](airspy_device*, uint32_t* buffer, uint32_t count) {
        return current->readSampleRates(buffer, count);
    };
    table.set_samplerate = [](airspy_device*, uint32_t hz) { return current->record("set_samplerate(" + arg(hz) + ")"); };
    table.set_sample_type = [](airspy_device*, int type) {
        return current->record("set_sample_type(" + std::to_string(type) + ")");
    };
    table.set_lna_agc = [](airspy_device*, uint8_t v) { return current->record("set_lna_agc(" + arg(v) + ")"); };
    table.set_mixer_agc = [](airspy_device*, uint8_t v) { return current->record("set_mixer_agc(" + arg(v) + ")"); };
    table.set_packing = [](airspy_device*, uint8_t v) { return current->record("set_packing(" + arg(v) + ")"); };
    table.set_freq = [](airspy_device*, uint32_t hz) { return current->record("set_freq(" + arg(hz) + ")"); };
    table.set_vga_gain = [](airspy_device*, uint8_t v) { return current->record("set_vga_gain(" + arg(v) + ")"); };
    table.start_rx = [](airspy_device*, AirspyLibrary::Receiver* target) { return current->startRx(target); };
    table.stop_rx = [](airspy_device*) {
        current->receiver.stop();
        return current->record("stop_rx()");
    };
}

FakeAirspy::~FakeAirspy()
{
    receiver.stop();
    current = nullptr;
}

int FakeAirspy::record(const std::string& call)
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.push_back(call);
    return !failing.empty() && call.compare(0, failing.size() + 1, failing + "(") == 0 ? -1 : 0;
}

int FakeAirspy::openSerial(airspy_device** device, uint64_t serial)
{
    *device = nullptr;
    if (record("open_sn(" + arg(serial) + ")") != 0)
        return -1;
    for (size_t k = 0; k < radios.size(); ++k)
        if (radios[k].serial == serial && radios[k].opens) {
            *device = handleOf(k);
            return 0;
        }
    return kNotFound;
}

int FakeAirspy::readSampleRates(uint32_t* buffer, uint32_t count)
{
    if (record("get_samplerates(" + arg(count) + ")") != 0)
        return -1;
    // As the library: asked for none, it tells how many there are.
    if (count == 0) {
        buffer[0] = uint32_t(sampleRates.size());
        return 0;
    }
    if (count > sampleRates.size())
        return -2;
    std::copy(sampleRates.begin(), sampleRates.begin() + long(count), buffer);
    return 0;
}

int FakeAirspy::startRx(AirspyLibrary::Receiver* target)
{
    if (record("start_rx()") != 0)
        return -1;
    receiver.start([this, target](const FakeStreamThread::StopRequested& stopRequested) {
        const size_t samples = stream.size() / 2;
        for (size_t at = 0; at < samples && !stopRequested(); at += size_t(transferSamples)) {
            const size_t count = std::min(samples - at, size_t(transferSamples));
            std::vector<int16_t> transfer(stream.begin() + long(2 * at), stream.begin() + long(2 * (at + count)));
            if (target->callback(transfer.data(), int(count), target->context) != 0)
                return;   // the device asked for no more
        }
    });
    return 0;
}

std::vector<std::string> FakeAirspy::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}
