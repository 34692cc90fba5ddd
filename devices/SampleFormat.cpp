#include "devices/SampleFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>

int16_t convert_s16le_s16(const uint8_t* bytes)
{
    return int16_t(uint16_t(bytes[0] | (bytes[1] << 8)));
}

int16_t convert_f32le_s16(const uint8_t* bytes)
{
    const uint32_t bits = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                          uint32_t(bytes[3]) << 24;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    const float scaled = std::trunc(value * 32768.0f);
    // Comparisons keep NaN at 0 and infinities at the limits.
    if (scaled >= 32767.0f)
        return 32767;
    if (scaled <= -32768.0f)
        return -32768;
    if (!(scaled == scaled))
        return 0;
    return int16_t(scaled);
}

size_t deliverIqSamples(const uint8_t* bytes, size_t size, IqFormat format, const SampleCallback& callback)
{
    const size_t step = iqSampleBytes(format);
    const size_t count = size / step;
    switch (format) {
    case IqFormat::S8:
        for (size_t k = 0; k < count; ++k)
            callback(convert_s8_s16(bytes[2 * k]), convert_s8_s16(bytes[2 * k + 1]));
        break;
    case IqFormat::U8:
        for (size_t k = 0; k < count; ++k)
            callback(convert_u8_s16(bytes[2 * k]), convert_u8_s16(bytes[2 * k + 1]));
        break;
    case IqFormat::S16:
        for (size_t k = 0; k < count; ++k)
            callback(convert_s16le_s16(bytes + 4 * k), convert_s16le_s16(bytes + 4 * k + 2));
        break;
    case IqFormat::F32:
        for (size_t k = 0; k < count; ++k)
            callback(convert_f32le_s16(bytes + 8 * k), convert_f32le_s16(bytes + 8 * k + 4));
        break;
    }
    return count * step;
}

size_t convertIqSamples(const uint8_t* bytes, size_t size, IqFormat format, int16_t* out)
{
    const size_t count = size / iqSampleBytes(format);
    switch (format) {
    case IqFormat::S8:
        for (size_t k = 0; k < 2 * count; ++k)
            out[k] = convert_s8_s16(bytes[k]);
        break;
    case IqFormat::U8:
        for (size_t k = 0; k < 2 * count; ++k)
            out[k] = convert_u8_s16(bytes[k]);
        break;
    case IqFormat::S16:
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::memcpy(out, bytes, count * 4);   // already the host's own
#else
        for (size_t k = 0; k < 2 * count; ++k)
            out[k] = convert_s16le_s16(bytes + 2 * k);
#endif
        break;
    case IqFormat::F32:
        for (size_t k = 0; k < 2 * count; ++k)
            out[k] = convert_f32le_s16(bytes + 4 * k);
        break;
    }
    return count;
}

size_t IqByteStream::pushRuns(const uint8_t* bytes, size_t size, const SampleBlockCallback& runs)
{
    const size_t step = iqSampleBytes(format);
    converted.resize(2 * ((carried + size) / step + 1));
    size_t count = 0;
    if (carried > 0) {
        const size_t take = std::min(step - carried, size);
        std::memcpy(partial + carried, bytes, take);
        carried += take;
        bytes += take;
        size -= take;
        if (carried < step)
            return 0;
        count = convertIqSamples(partial, step, format, converted.data());
        carried = 0;
    }
    const size_t whole = convertIqSamples(bytes, size, format, converted.data() + 2 * count);
    count += whole;
    carried = size - whole * step;
    std::memcpy(partial, bytes + whole * step, carried);
    if (count > 0)
        runs(converted.data(), count);
    return count;
}

size_t IqByteStream::push(const uint8_t* bytes, size_t size, const SampleCallback& callback)
{
    return pushRuns(bytes, size, [&callback](const int16_t* iq, size_t count) {
        for (size_t k = 0; k < count; ++k)
            callback(iq[2 * k], iq[2 * k + 1]);
    });
}
