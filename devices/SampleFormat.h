// Interleaved IQ wire formats and their conversion to 16-bit sample pairs.
#pragma once

#include "devices/InputDevice.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Byte formats of interleaved I, Q streams. The first three are the TCP
// input's format indices.
enum class IqFormat {
    S8 = 0,    // signed 8-bit, value * 256
    S16 = 1,   // signed 16-bit little-endian, unchanged
    F32 = 2,   // float32 little-endian, value * 32768 toward zero, limited
    U8 = 3,    // unsigned 8-bit offset binary (RTL-SDR): (value - 128) * 256
};

// Bytes per complex sample.
constexpr size_t iqSampleBytes(IqFormat format)
{
    return format == IqFormat::S16 ? 4 : format == IqFormat::F32 ? 8 : 2;
}

constexpr const char* kIqFormatNames[] = {"s8", "s16", "f32", "u8"};

// "s8", "s16", "f32" or "u8"; false for any other name.
inline bool iqFormatFromName(const std::string& name, IqFormat& format)
{
    for (int i = 0; i < 4; ++i)
        if (name == kIqFormatNames[i]) {
            format = IqFormat(i);
            return true;
        }
    return false;
}

inline const char* iqFormatName(IqFormat format)
{
    return kIqFormatNames[int(format) & 3];
}

// Per sample in the radios' conversion loops: inline.
inline int16_t convert_s8_s16(uint8_t byte)
{
    return int16_t(int8_t(byte) * 256);
}

inline int16_t convert_u8_s16(uint8_t byte)
{
    return int16_t((int(byte) - 128) * 256);
}

int16_t convert_s16le_s16(const uint8_t* bytes);
int16_t convert_f32le_s16(const uint8_t* bytes);

// Calls `callback` with every whole sample in `bytes`, in order. Returns the
// number of bytes used: a partial sample at the end is left for the caller.
size_t deliverIqSamples(const uint8_t* bytes, size_t size, IqFormat format, const SampleCallback& callback);
// Converts every whole sample in `bytes` into `out` (I, Q interleaved, room
// for size / iqSampleBytes(format) samples). Returns the samples converted.
size_t convertIqSamples(const uint8_t* bytes, size_t size, IqFormat format, int16_t* out);

// IQ bytes that arrive cut anywhere (network reads, file reads): the bytes
// of a sample split over two pieces are kept and joined, so I and Q never
// swap places.
class IqByteStream {
public:
    explicit IqByteStream(IqFormat format = IqFormat::S16) : format(format) {}

    // A new stream: no carried bytes.
    void reset(IqFormat newFormat)
    {
        format = newFormat;
        carried = 0;
    }
    IqFormat sampleFormat() const { return format; }
    // Bytes of a part sample waiting for the rest.
    size_t pending() const { return carried; }

    // Delivers every whole sample of the carried bytes and these, in order;
    // keeps what is left of a part sample. Returns the samples delivered.
    size_t push(const uint8_t* bytes, size_t size, const SampleCallback& callback);
    // As push(), but the samples go to `runs` converted, in one run per call
    // (none when no whole sample is complete).
    size_t pushRuns(const uint8_t* bytes, size_t size, const SampleBlockCallback& runs);

private:
    IqFormat format;
    std::vector<int16_t> converted;   // pushRuns' samples, kept between calls
    uint8_t partial[8] = {};
    size_t carried = 0;
};
