#include "devices/soapysdr/SoapySDRDevice.h"

#include "core/Log.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

namespace {

using Args = std::vector<std::pair<std::string, std::string>>;

// The library's key/value list over our strings, for as long as it lives.
class KwargsView {
public:
    explicit KwargsView(const Args& args)
    {
        for (const auto& [key, value] : args) {
            keys.push_back(const_cast<char*>(key.c_str()));
            values.push_back(const_cast<char*>(value.c_str()));
        }
        view = SoapyKwargs{args.size(), keys.data(), values.data()};
    }
    const SoapyKwargs* get() const { return &view; }

private:
    std::vector<char*> keys, values;
    SoapyKwargs view{};
};

std::string valueOf(const Args& args, const std::string& key)
{
    for (const auto& [k, v] : args)
        if (k == key)
            return v;
    return {};
}

// What tells two radios apart when the module gives no label.
std::string labelOf(const Args& args)
{
    std::string label = valueOf(args, "label");
    if (!label.empty())
        return label;
    for (const auto& [k, v] : args) {
        if (k == "driver")
            continue;
        label += (label.empty() ? "" : ", ") + k + "=" + v;
    }
    return label.empty() ? "<unknown>" : label;
}

unsigned kilohertz(double hz)
{
    const double khz = std::floor(hz / 1000.0);
    return khz <= 0 ? 0u : khz >= double(INT_MAX) ? unsigned(INT_MAX) : unsigned(khz);
}

const char* text(const char* s)
{
    return s != nullptr ? s : "";
}

// Reads what the radio offers on receive channel 0; false when it cannot be made.
bool describe(const SoapysdrLibrary& lib, const std::string& name, SoapySDRDevice::Description& d)
{
    const KwargsView args(d.args);
    SoapyDeviceHandle* handle = lib.make(args.get());
    if (handle == nullptr) {
        LogLine() << "SoapySDRDevice_make failed for \"" << name << "\": " << text(lib.lastError());
        return false;
    }
    size_t length = 0;
    if (double* rates = lib.listSampleRates(handle, kSoapyRx, 0, &length)) {
        for (size_t k = 0; k < length; ++k)
            if (rates[k] >= 1.0)
                d.sampleRates.push_back(uint64_t(std::llround(rates[k])));
        lib.free(rates);
    }
    const SoapyRange gain = lib.getGainRange(handle, kSoapyRx, 0);
    d.minGain = int(std::ceil(gain.minimum));
    d.maxGain = std::max(d.minGain, int(std::floor(gain.maximum)));
    length = 0;
    if (SoapyRange* frequencies = lib.getFrequencyRange(handle, kSoapyRx, 0, &length)) {
        if (length > 0) {
            double low = frequencies[0].minimum, high = frequencies[0].maximum;
            for (size_t k = 1; k < length; ++k) {
                low = std::min(low, frequencies[k].minimum);
                high = std::max(high, frequencies[k].maximum);
            }
            d.minFrequency = kilohertz(low + 999.0);   // rounded up: inside the range
            d.maxFrequency = kilohertz(high);
        }
        lib.free(frequencies);
    }
    length = 0;
    if (SoapyRange* bandwidths = lib.getBandwidthRange(handle, kSoapyRx, 0, &length)) {
        d.hasFilter = length > 0;
        lib.free(bandwidths);
    }
    lib.unmake(handle);
    return true;
}

} // namespace

bool SoapySDRDevice::hasOwnDriver(const std::string& driver)
{
    static const char* const kOwnDrivers[] = {"rtlsdr", "hackrf", "lime", "airspy", "sdrplay", "plutosdr"};
    return std::find(std::begin(kOwnDrivers), std::end(kOwnDrivers), driver) != std::end(kOwnDrivers);
}

std::vector<std::unique_ptr<SoapySDRDevice>> SoapySDRDevice::enumerate(const SoapysdrLibrary& lib)
{
    std::vector<Description> found;
    const SoapyKwargs noFilter{0, nullptr, nullptr};
    size_t count = 0;
    if (SoapyKwargs* list = lib.enumerate(&noFilter, &count)) {
        for (size_t i = 0; i < count; ++i) {
            Description d;
            for (size_t k = 0; k < list[i].size; ++k)
                d.args.emplace_back(text(list[i].keys[k]), text(list[i].vals[k]));
            found.push_back(std::move(d));
        }
        lib.kwargsListClear(list, count);
    }
    LogLine() << "soapysdr num_devices: " << found.size();

    std::vector<std::unique_ptr<SoapySDRDevice>> devices;
    for (Description& d : found) {
        const std::string driver = valueOf(d.args, "driver");
        const std::string name = "soapysdr | " + driver + " | " + labelOf(d.args);
        if (hasOwnDriver(driver)) {
            LogLine() << "soapysdr: \"" << name << "\" is listed by its own driver";
            continue;
        }
        if (!describe(lib, name, d))
            continue;
        auto device = std::make_unique<SoapySDRDevice>(lib, std::move(d));
        device->setDeviceName(name);
        devices.push_back(std::move(device));
    }
    return devices;
}

SoapySDRDevice::SoapySDRDevice(const SoapysdrLibrary& library, Description radio)
    : lib(library), description(std::move(radio))
{
}

SoapySDRDevice::~SoapySDRDevice()
{
    close();
}

bool SoapySDRDevice::succeeded(int result, const char* call) const
{
    if (result == 0)
        return true;
    LogLine() << call << " failed for \"" << deviceName << "\": " << text(lib.lastError());
    return false;
}

bool SoapySDRDevice::open(SampleCallback& callback)
{
    if (device != nullptr)
        close();
    const KwargsView args(description.args);
    device = lib.make(args.get());
    if (device == nullptr) {
        LogLine() << "SoapySDRDevice_make failed for \"" << deviceName << "\": " << text(lib.lastError());
        return true;
    }
    // The stored rate when it is one of the radio's, else its first.
    const std::vector<uint64_t>& rates = description.sampleRates;
    if (std::find(rates.begin(), rates.end(), sampleRate) == rates.end())
        InputDevice::setSampleRateIndex(0);
    applySampleRate();
    succeeded(lib.setGainMode(device, kSoapyRx, 0, false), "SoapySDRDevice_setGainMode");
    succeeded(lib.setGain(device, kSoapyRx, 0, double(gain)), "SoapySDRDevice_setGain");
    if (frequency != 0)
        succeeded(lib.setFrequency(device, kSoapyRx, 0, double(frequency), nullptr), "SoapySDRDevice_setFrequency");
    applyFilter();

    const size_t channel = 0;
    stream = lib.setupStream(device, kSoapyRx, kSoapyFormatCS16, &channel, 1, nullptr);
    if (stream == nullptr) {
        LogLine() << "SoapySDRDevice_setupStream failed for \"" << deviceName << "\": " << text(lib.lastError());
        lib.unmake(device);
        device = nullptr;
        return true;
    }
    const size_t mtu = lib.getStreamMTU(device, stream);
    elementsPerRead = mtu > 0 ? mtu : 16384;
    const int activated = lib.activateStream(device, stream, 0, 0, 0);
    if (activated != 0) {
        LogLine() << "SoapySDRDevice_activateStream failed for \"" << deviceName << "\": "
                  << text(lib.errToStr(activated));
        lib.closeStream(device, stream);
        stream = nullptr;
        lib.unmake(device);
        device = nullptr;
        return true;
    }
    samples = &callback;
    stopping.store(false);
    reader = std::thread(&SoapySDRDevice::readLoop, this);
    return false;
}

void SoapySDRDevice::readLoop()
{
    std::vector<int16_t> buffer(2 * elementsPerRead);   // CS16: I, Q pairs as they come
    int lastFailure = 0;
    while (!stopping.load()) {
        void* const buffers[] = {buffer.data()};
        int flags = 0;
        long long timeNs = 0;
        const int read = lib.readStream(device, stream, buffers, elementsPerRead, &flags, &timeNs, 100000);
        if (read > 0) {
            lastFailure = 0;
            deliver(*samples, buffer.data(), size_t(read));
        } else if (read < 0 && read != kSoapyTimeout && read != kSoapyOverflow) {
            // Once per run of failures, and no spinning while the radio is gone.
            if (read != lastFailure)
                LogLine() << "SoapySDRDevice_readStream failed for \"" << deviceName << "\": "
                          << text(lib.errToStr(read));
            lastFailure = read;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
}

void SoapySDRDevice::applySampleRate()
{
    if (device != nullptr && sampleRate != 0)
        succeeded(lib.setSampleRate(device, kSoapyRx, 0, double(sampleRate)), "SoapySDRDevice_setSampleRate");
}

void SoapySDRDevice::applyFilter()
{
    if (device != nullptr && description.hasFilter && filterBandwidth != 0)
        succeeded(lib.setBandwidth(device, kSoapyRx, 0, double(filterBandwidth)), "SoapySDRDevice_setBandwidth");
}

void SoapySDRDevice::setSampleRateIndex(unsigned index)
{
    if (index >= description.sampleRates.size())
        return;
    InputDevice::setSampleRateIndex(index);
    applySampleRate();
}

void SoapySDRDevice::setFilterBandwidth(uint64_t hz)
{
    InputDevice::setFilterBandwidth(hz);
    applyFilter();
}

void SoapySDRDevice::setGain(int value)
{
    InputDevice::setGain(value);
    if (device != nullptr)
        succeeded(lib.setGain(device, kSoapyRx, 0, double(value)), "SoapySDRDevice_setGain");
}

void SoapySDRDevice::setFrequency(uint64_t hz)
{
    InputDevice::setFrequency(hz);
    if (device != nullptr)
        succeeded(lib.setFrequency(device, kSoapyRx, 0, double(hz), nullptr), "SoapySDRDevice_setFrequency");
}

void SoapySDRDevice::close()
{
    if (device == nullptr)
        return;
    stopping.store(true);
    if (reader.joinable())
        reader.join();
    lib.deactivateStream(device, stream, 0, 0);
    lib.closeStream(device, stream);
    lib.unmake(device);
    stream = nullptr;
    device = nullptr;
    samples = nullptr;
}
