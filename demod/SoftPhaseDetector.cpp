#include "demod/SoftPhaseDetector.h"

#include "demod/CarrierLoop.h"
#include "demod/Psk8WeightedError.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <smmintrin.h>

namespace {

using cf = std::complex<float>;
using namespace psk8detail;

// Where the slopes are tabulated.
constexpr double kTableFromDb = -6.0;
constexpr double kTableStepDb = 0.25;
constexpr int kTableSize = 89;   // to 16 dB

struct SlopeTable {
    std::array<float, kTableSize> slope{};

    float at(double esn0Db) const
    {
        const double x = std::clamp((esn0Db - kTableFromDb) / kTableStepDb, 0.0, double(kTableSize - 1));
        const int i = std::min(int(x), kTableSize - 2);
        const float f = float(x - i);
        return slope[size_t(i)] * (1 - f) + slope[size_t(i + 1)] * f;
    }
};

// e^x for x ≤ 0, within 1e-4 of it relative; 0 below −87.
inline float expNonPositive(float x)
{
    if (x < -87.0f)
        return 0.0f;
    const float t = x * 1.44269504f;   // log2 e
    const float whole = std::floor(t);
    const float f = t - whole;
    const float f2 = f * f;
    const float p = (1.0f + f * kExp1) + f2 * ((kExp2 + f * kExp3) + f2 * (kExp4 + f * kExp5));
    const int32_t bits = (int32_t(whole) + 127) << 23;
    float scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return p * scale;
}

float qpskDetector(cf s, float c) { return qpskSoftPhaseError(s, c); }

double linear(double db) { return std::pow(10.0, db / 10.0); }

// Re and Im of s · conj(p_k) for the eight points, and the largest |Re|.
struct Psk8Projections {
    alignas(16) std::array<float, 8> re, im;
    float top;
};

inline Psk8Projections psk8Projections(cf s)
{
    Psk8Projections p;
    std::array<float, 8>& re = p.re;
    std::array<float, 8>& im = p.im;
    // p_k = e^(jkπ/4); p_(k+4) = −p_k.
    re[0] = s.real();
    im[0] = s.imag();
    re[1] = kHalfRoot2 * (s.real() + s.imag());
    im[1] = kHalfRoot2 * (s.imag() - s.real());
    re[2] = s.imag();
    im[2] = -s.real();
    re[3] = kHalfRoot2 * (s.imag() - s.real());
    im[3] = -kHalfRoot2 * (s.real() + s.imag());
    p.top = std::max(std::max(std::fabs(re[0]), std::fabs(re[1])), std::max(std::fabs(re[2]), std::fabs(re[3])));
    for (size_t k = 0; k < 4; ++k) {
        re[k + 4] = -re[k];
        im[k + 4] = -im[k];
    }
    return p;
}

} // namespace

float psk8SoftPhaseError(cf s, float c)
{
    return psk8WeightedError(s, c);
}

float psk8SoftPhaseErrorRef(cf s, float c)
{
    const Psk8Projections p = psk8Projections(s);
    std::array<float, 8> w;
    for (size_t k = 0; k < 8; ++k)
        w[k] = expNonPositive(c * (p.re[k] - p.top));
    std::array<float, 4> num, den;
    for (size_t k = 0; k < 4; ++k) {
        num[k] = w[k] * p.im[k] + w[k + 4] * p.im[k + 4];
        den[k] = w[k] + w[k + 4];
    }
    return ((num[0] + num[2]) + (num[1] + num[3])) / ((den[0] + den[2]) + (den[1] + den[3]));
}

double meanDetectorSlope(float (*detector)(cf, float), float c, cf point, double esn0Db)
{
    // Midpoint rule over ±5σ in each dimension, 24 nodes: within 0.1 % of
    // 48 nodes over ±6σ wherever the gain depends on it, at a quarter of
    // the cost (both tables about 8 ms here, built on the demodulator's
    // thread at the first frame that needs one). The slope from a phase
    // error of ±0.01 rad either side.
    constexpr int kNodes = 24;
    constexpr double kSpan = 5.0;
    constexpr double kTurn = 0.01;
    const double sigma = std::sqrt(0.5 / linear(esn0Db));
    const double step = 2 * kSpan / kNodes;
    const cf up = std::polar(1.0f, float(kTurn));
    const cf down = std::conj(up);
    double sum = 0, weights = 0;
    for (int i = 0; i < kNodes; ++i) {
        const double x = -kSpan + (i + 0.5) * step;
        for (int j = 0; j < kNodes; ++j) {
            const double y = -kSpan + (j + 0.5) * step;
            const double w = std::exp(-0.5 * (x * x + y * y));
            const cf s = point + cf(float(sigma * x), float(sigma * y));
            sum += w * double(detector(s * up, c) - detector(s * down, c));
            weights += w;
        }
    }
    return sum / weights / (2 * kTurn);
}

float qpskSoftDetectorSlope(double esn0Db)
{
    static const SlopeTable table = [] {
        SlopeTable t;
        for (int i = 0; i < kTableSize; ++i) {
            const double db = kTableFromDb + i * kTableStepDb;
            t.slope[size_t(i)] = float(meanDetectorSlope(qpskDetector, float(std::sqrt(2.0) * linear(db)),
                                                         cf(kHalfRoot2, kHalfRoot2), db));
        }
        return t;
    }();
    return table.at(esn0Db);
}

float psk8SoftDetectorSlope(double esn0Db)
{
    static const SlopeTable table = [] {
        SlopeTable t;
        for (int i = 0; i < kTableSize; ++i) {
            const double db = kTableFromDb + i * kTableStepDb;
            t.slope[size_t(i)] = float(meanDetectorSlope(psk8SoftPhaseError, float(2 * linear(db)), cf(1, 0), db));
        }
        return t;
    }();
    return table.at(esn0Db);
}

float qpskSoftDetectorGain(double esn0Db)
{
    return std::clamp(kQpskSoftDetectorSlope / qpskSoftDetectorSlope(esn0Db), 1.0f, kMaxSoftDetectorGain);
}

float psk8SoftDetectorGain(double esn0Db)
{
    return std::clamp(kPsk8SoftDetectorSlope / psk8SoftDetectorSlope(esn0Db), 1.0f, kMaxSoftDetectorGain);
}
