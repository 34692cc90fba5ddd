#include "dsp/HalfBandDecimator.h"

#include <algorithm>
#include <cstring>

namespace {

inline int16_t roundQ15(int32_t acc)
{
    return int16_t(std::clamp((acc + (1 << 14)) >> 15, -32768, 32767));
}

} // namespace

void HalfBandDecimator::process(const int16_t* in, int16_t* out, size_t count)
{
    constexpr size_t kHeld = 2 * (kTaps - 1);
    work.resize(kHeld + 2 * count);
    std::memcpy(work.data() + kHeld, in, 2 * count * sizeof(int16_t));

    // Output k is the filter at input 2k + 1, whose taps reach back to
    // work sample 2k + 1; only the centre and the even taps are not zero.
    const int16_t* w = work.data();
    const int32_t h0 = kCoefficients[0], h2 = kCoefficients[2], h4 = kCoefficients[4], h6 = kCoefficients[6];
    const int32_t centre = kCoefficients[7];
    for (size_t k = 0; k < count / 2; ++k) {
        const int16_t* x = w + 2 * (2 * k + 1);
        for (int c = 0; c < 2; ++c) {
            const int32_t acc = h0 * (x[2 * 0 + c] + x[2 * 14 + c]) + h2 * (x[2 * 2 + c] + x[2 * 12 + c]) +
                                h4 * (x[2 * 4 + c] + x[2 * 10 + c]) + h6 * (x[2 * 6 + c] + x[2 * 8 + c]) +
                                centre * x[2 * 7 + c];
            out[2 * k + c] = roundQ15(acc);
        }
    }
    std::memmove(work.data(), work.data() + 2 * count, kHeld * sizeof(int16_t));
    work.resize(kHeld);
}

void HalfBandDecimator::reset()
{
    std::fill(work.begin(), work.end(), int16_t(0));
}

void Decimator::setExponent(int exponent)
{
    const size_t wanted = size_t(std::clamp(exponent, 0, kMaxExponent));
    if (wanted == stages.size())
        return;
    stages.assign(wanted, HalfBandDecimator());
}

size_t Decimator::process(int16_t* iq, size_t count)
{
    for (HalfBandDecimator& stage : stages) {
        stage.process(iq, iq, count);
        count /= 2;
    }
    return count;
}
