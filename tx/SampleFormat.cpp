#include "tx/SampleFormat.h"

#include <cmath>
#include <cstring>

namespace tx {

double fullScale(IqFormat format)
{
    switch (format) {
    case IqFormat::S8:
    case IqFormat::U8: return 127.0;
    case IqFormat::S16: return 32767.0;
    case IqFormat::F32: return 1.0;
    }
    return 1.0;
}

namespace {
template <typename T>
inline T quantise(float v, float lo, float hi, size_t& clipped)
{
    float r = std::nearbyint(v);
    if (r < lo) {
        r = lo;
        ++clipped;
    } else if (r > hi) {
        r = hi;
        ++clipped;
    }
    return T(r);
}
} // namespace

size_t convertSamples(const cf32* in, size_t n, float scale, IqFormat format, uint8_t* out)
{
    size_t clipped = 0;
    const float* v = reinterpret_cast<const float*>(in);
    switch (format) {
    case IqFormat::S8:
        for (size_t i = 0; i < 2 * n; ++i)
            out[i] = uint8_t(quantise<int8_t>(v[i] * scale, -128.0f, 127.0f, clipped));
        break;
    case IqFormat::U8:
        for (size_t i = 0; i < 2 * n; ++i)
            out[i] = uint8_t(quantise<int>(v[i] * scale, -128.0f, 127.0f, clipped) + 128);
        break;
    case IqFormat::S16:
        for (size_t i = 0; i < 2 * n; ++i) {
            const int16_t s = quantise<int16_t>(v[i] * scale, -32768.0f, 32767.0f, clipped);
            out[2 * i] = uint8_t(s & 0xFF);
            out[2 * i + 1] = uint8_t((s >> 8) & 0xFF);
        }
        break;
    case IqFormat::F32:
        for (size_t i = 0; i < 2 * n; ++i) {
            float f = v[i] * scale;
            if (f > 1.0f || f < -1.0f)
                ++clipped; // reported, not limited: float has headroom
            std::memcpy(out + 4 * i, &f, 4);
        }
        break;
    }
    return clipped;
}

} // namespace tx
