#include "dsp/MatchedFilter.h"

#include "dsp/Approx.h"
#include "dsp/FirAgcKernel.h"
#include "dsp/SampleLevels.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <smmintrin.h>

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// RRC pulse at x (time scaled by symbolRate/2), in extended precision.
double rrcTap(int32_t symbolRate, float rollOff, double x)
{
    const float oneMinus = 1.0f - rollOff;
    const float onePlus = 1.0f + rollOff;
    const double z = 4.0 * rollOff * x;
    const long double amplitude = std::sqrt(static_cast<long double>(symbolRate * 0.5));
    const long double lz = z;
    const long double denominator = kPi * lz * (1.0L - lz * lz);
    if (denominator != 0.0L) {
        const long double numerator =
            std::sin(kPi * oneMinus * x) + lz * std::cos(kPi * onePlus * static_cast<long double>(x));
        return static_cast<double>(amplitude * numerator / denominator);
    }
    // z = ±1: the formula is 0/0 there; take its limit (ratio of derivatives).
    const long double lx = x;
    const long double b = rollOff;
    const long double dNum = kPi * oneMinus * std::cos(kPi * oneMinus * lx) +
                             4.0L * b * std::cos(kPi * onePlus * lx) -
                             4.0L * b * lx * kPi * onePlus * std::sin(kPi * onePlus * lx);
    const long double dDen = 4.0L * kPi * b * (1.0L - 48.0L * b * b * lx * lx);
    return static_cast<double>(amplitude * dNum / dDen);
}

// 32-bit addition with wrap-around, as the vector adds do (the design keeps
// every sum in range).
inline int32_t wrapAdd(int32_t a, int32_t b)
{
    return int32_t(uint32_t(a) + uint32_t(b));
}

} // namespace

RrcDesign designRrc(uint64_t sampleRate, int32_t symbolRate, int taps, float rollOff)
{
    RrcDesign d;
    d.taps = taps;
    std::vector<double> q(size_t(taps), 0.0);
    const double F = 2.0 * double(sampleRate);
    double t = (1.0 - taps) / F;
    double maxTap = -99999, minTap = 99999, u = 0;
    for (int k = 0; k < taps - 1; ++k) {
        t = t + 2.0 / F;
        const double x = (symbolRate * 0.5) * t;
        const double z = 4.0 * rollOff * x;
        if (z != 0.0)
            u = rrcTap(symbolRate, rollOff, x);
        q[size_t(k)] = u;
        maxTap = std::max(maxTap, u);
        minTap = std::min(minTap, u);
    }
    q[size_t(taps - 1)] = 0;

    const int n = taps / 2;
    // The largest tap at full 16-bit range, unless a sum of products could
    // then leave 32 bits: with |sample| ≤ 32768, a phase whose |taps| add up
    // to at most 65535 stays below 2^31 for any input. At 2 samples per
    // symbol and above the pulse's main lobe spans several taps of a phase,
    // and the sum of a full-scale input wrapped silently.
    double absEven = 0, absOdd = 0;
    for (int p = 0; p < n; ++p) {
        absEven += std::fabs(q[size_t(2 * p)]);
        absOdd += std::fabs(q[size_t(2 * p + 1)]);
    }
    const double fullScale = std::min(std::fabs(32767.0 / maxTap), std::fabs(-32768.0 / minTap));
    const double largestPhase = std::max(absEven, absOdd);
    const double f = largestPhase > 0 ? std::min(fullScale, kMaxPhaseTapSum / largestPhase) : fullScale;
    d.even.resize(size_t(n));
    d.odd.resize(size_t(n));
    double sum = 0;
    for (int p = 0; p < n; ++p) {
        d.even[size_t(p)] = int16_t(q[size_t(2 * p)] * f);
        d.odd[size_t(p)] = int16_t(q[size_t(2 * p + 1)] * f);
        sum += (q[size_t(2 * p)] + q[size_t(2 * p + 1)]) * f;
    }
    d.coefficientSum = sum;
    return d;
}

void FirAgcState::install(const RrcDesign& design)
{
    historyPos = 0;
    tapCount = uint64_t(design.taps);
    const int n = design.taps / 2;
    for (int p = 0; p < n; ++p) {
        even[p] = design.even[size_t(p)];
        odd[p] = design.odd[size_t(p)];
    }
    // Position m of a window of n, oldest first, holds the sample of age
    // n − 1 − m.
    for (int m = 0; m < n; ++m) {
        evenOldestFirst[m] = design.even[size_t((2 * n - 2 - m) % n)];
        oddOldestFirst[m] = design.odd[size_t((2 * n - 2 - m) % n)];
    }
    gainNorm = approxRcp(float(design.coefficientSum));
}

bool firAgcAvx2Available()
{
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}

float agcUpdate(float g, float p)
{
    return firagc::gainStep(g, p);
}

int16_t roundSaturate16(float v)
{
    if (!(v >= -2147483648.0f && v < 2147483648.0f))
        return -32768;
    const long r = std::lrint(v);
    return int16_t(r > 32767 ? 32767 : r < -32768 ? -32768 : r);
}

float MatchedFilter::coarseGain(float g, double rms)
{
    constexpr double kOperatingLevel = double(kAgcDecay) / double(kAgcRate) / 1.4142135623730951;
    const double magnitude = std::max(double(std::fabs(g)), 1e-6);
    if (!(rms >= 0.5))
        return float(-std::min(magnitude * 64.0, 1e9));
    const double ratio = kOperatingLevel / rms;
    if (g < 0 && ratio <= kCoarseRange && ratio >= 1.0 / kCoarseRange)
        return g;
    return float(-std::min(magnitude * ratio, 1e9));
}

size_t MatchedFilter::process(const int16_t* in, size_t count, int16_t* out)
{
    const size_t used = count & ~size_t(3);
    if (s.tapCount == 0 || used == 0)
        return 0;
    (firAgcAvx2Available() ? fir_agc_avx2 : fir_agc_sse41)(s, in, used, out);
    // A gain that went to not-a-number (silence) was reset to 1.0: the
    // block tells nothing of the level.
    if (!s.gainReset) {
        const uint64_t power = sumOfSquares16_sse41(out, 4 * used);
        s.agcGain = coarseGain(s.agcGain, std::sqrt(double(power) / double(2 * used)));
    }
    return used;
}

void fir_agc_ref(FirAgcState& f, const int16_t* in, size_t count, int16_t* out)
{
    const uint64_t n = f.tapCount / 2;
    uint64_t P = f.historyPos;
    const int16_t* even = f.even;
    const int16_t* odd = f.odd;
    for (size_t group = 0; group < count; group += 4) {
        int32_t sums[4][4];
        for (int j = 0; j < 4; ++j) {
            const uint64_t pos = P + uint64_t(j);
            f.historyI[n - 1 - pos] = in[2 * (group + j)];
            f.historyQ[n - 1 - pos] = in[2 * (group + j) + 1];
            int32_t ie = 0, qe = 0, io = 0, qo = 0;
            for (uint64_t k = 0; k < n; ++k) {
                const int32_t ce = even[(pos + k) % n];
                const int32_t co = odd[(pos + k) % n];
                ie = wrapAdd(ie, f.historyI[k] * ce);
                qe = wrapAdd(qe, f.historyQ[k] * ce);
                io = wrapAdd(io, f.historyI[k] * co);
                qo = wrapAdd(qo, f.historyQ[k] * co);
            }
            sums[j][0] = ie;
            sums[j][1] = qe;
            sums[j][2] = io;
            sums[j][3] = qo;
        }
        firagc::finishGroup(f, sums, out + 4 * group);
        P += 4;
        if (P == n)
            P = 0;
    }
    firagc::endBlock(f, P);
}

namespace {

// A window's four sums eight taps at a time.
struct Sse41Window {
    static __m128i sums(const int16_t* wi, const int16_t* wq, const int16_t* even, const int16_t* odd, size_t n)
    {
        __m128i ie = _mm_setzero_si128(), qe = ie, io = ie, qo = ie;
        for (size_t k = 0; k < n; k += 8)
            firagc::accumulate8(wi + k, wq + k, even + k, odd + k, ie, qe, io, qo);
        return firagc::lanes(ie, qe, io, qo);
    }
};

} // namespace

void fir_agc_sse41(FirAgcState& f, const int16_t* in, size_t count, int16_t* out)
{
    firagc::kernel<Sse41Window>(f, in, count, out);
}
