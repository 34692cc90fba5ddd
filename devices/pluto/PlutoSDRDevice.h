// A PlutoSDR (AD9361) through libiio, on USB or the network: 12-bit samples
// read a buffer at a time on a thread of its own, the next buffer filled on a
// helper thread while the current one is converted.
#pragma once

#include "devices/InputDevice.h"
#include "devices/pluto/IioLibrary.h"

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

class PlutoSDRDevice : public InputDevice {
public:
    // Owns `context`: it stays open across open() and close() and is
    // destroyed with the device.
    PlutoSDRDevice(const IioLibrary& library, iio_context* context);
    ~PlutoSDRDevice() override;

    std::string getTypeName() const override { return "PlutoSDRDevice"; }
    bool open(SampleCallback& callback) override;
    void close() override;

    std::vector<uint64_t> getSampleRates() override;
    void setSampleRateIndex(unsigned index) override;
    void setFilterBandwidth(uint64_t hz) override;
    bool hasFilterBandwidth() override { return true; }
    int getMinGain() override { return 1; }
    int getMaxGain() override { return 1024; }
    // A digital factor on every sample, 16 = unity; never sent to the radio.
    void setGain(int gain) override;
    unsigned getMinFrequency() override { return 50000; }
    unsigned getMaxFrequency() override { return 6000000; }
    void setFrequency(uint64_t hz) override;

    // Samples per library buffer (I/Q pairs).
    static constexpr size_t kBufferSamples = 131072;

private:
    // Writes a channel attribute of the receiver-control device.
    void writeAttribute(const char* channel, bool output, const char* attribute, long long value);
    void bufferLoop();
    // Refills `buffer` and copies what it read into `half`; the pairs copied,
    // 0 when the refill failed.
    size_t refillInto(iio_buffer* buffer, int16_t* half);
    // value × gain / 16, toward zero, limited to 16 bits.
    void convertAndDeliver(const int16_t* half, size_t count, std::vector<int16_t>& converted);

    const IioLibrary& lib;
    iio_context* const context;
    iio_device* phy = nullptr;           // receiver control, while open
    SampleCallback* samples = nullptr;   // the caller's, while open
    std::atomic<int> digitalGain{0};     // the gain, read by the buffer thread
    std::atomic<bool> stopping{false};
    std::thread worker;
};
