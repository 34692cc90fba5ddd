// The interface every source of IQ samples implements: radios and the TCP client.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Receives one complex sample as two signed 16-bit values, I then Q. Devices
// call it once per sample from the thread they deliver on. The object belongs
// to the caller of open() and must outlive close().
using SampleCallback = std::function<void(int16_t i, int16_t q)>;

// Receives `count` complex samples at once, interleaved int16 I, Q: the same
// samples the sample callback would get one by one, without a call per sample.
using SampleBlockCallback = std::function<void(const int16_t* iq, size_t count)>;

class InputDevice {
public:
    InputDevice() = default;
    InputDevice(const InputDevice&) = delete;
    InputDevice& operator=(const InputDevice&) = delete;
    virtual ~InputDevice();

    // The class name: "RTLSDRDevice", "TCPInputDevice", ...
    virtual std::string getTypeName() const = 0;
    virtual std::string getDeviceName() const;
    virtual uint32_t getDeviceHash() const;

    // Starts streaming into `callback`. Returns false on success, true on failure.
    virtual bool open(SampleCallback& callback) = 0;
    // Stops streaming and releases the hardware; nothing happens if not open.
    virtual void close() = 0;

    // The offered sample rates in Hz, in display order.
    virtual std::vector<uint64_t> getSampleRates() = 0;
    // Picks a rate from getSampleRates(); an index past the end changes nothing.
    virtual void setSampleRateIndex(unsigned index);
    // Sets the rate only if it is one of getSampleRates(); never touches hardware.
    virtual void setSampleRate(uint64_t rate);
    virtual void setFilterBandwidth(uint64_t hz);
    virtual uint64_t getSampleRate();
    virtual uint64_t getFilterBandwidth();
    virtual bool hasFilterBandwidth() = 0;

    // Gain in the device's own units.
    virtual int getMinGain() = 0;
    virtual int getMaxGain() = 0;
    virtual int getGain();
    virtual void setGain(int gain);

    // Frequency limits in kHz; the frequency itself in Hz.
    virtual unsigned getMinFrequency() = 0;
    virtual unsigned getMaxFrequency() = 0;
    virtual uint64_t getFrequency();
    virtual void setFrequency(uint64_t hz);

    // The listing text the enumerator names the device with.
    void setDeviceName(std::string name) { deviceName = std::move(name); }

    // Radios convert their library's samples a buffer at a time: with a block
    // callback set (before open()) they hand each converted run to it instead
    // of calling the sample callback per sample. The object must outlive
    // close().
    void setBlockCallback(SampleBlockCallback* callback) { blockCallback = callback; }

protected:
    // Hands a converted run on: to the block callback when one is set, else
    // sample by sample to `callback`.
    void deliver(SampleCallback& callback, const int16_t* iq, size_t count) const
    {
        if (blockCallback != nullptr) {
            (*blockCallback)(iq, count);
            return;
        }
        for (size_t k = 0; k < count; ++k)
            callback(iq[2 * k], iq[2 * k + 1]);
    }

    SampleBlockCallback* blockCallback = nullptr;
    std::string deviceName = "<unknown>";
    uint64_t sampleRate = 0;
    uint64_t frequency = 0;
    uint64_t filterBandwidth = 0;
    int32_t gain = 0;
};

// h = 0xFFFFFFFF; for each byte c: h = (h + c) * 33, modulo 2^32.
uint32_t deviceNameHash(const std::string& name);
