#include "dsp/MatchedFilter.h"

#include "dsp/Approx.h"
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

float agcUpdate(float g, float p)
{
    const float t = (MatchedFilter::kAgcRate * p) * approxRsqrt(p);
    if (g > 0.0f && t > MatchedFilter::kAgcDecay)
        return (g - MatchedFilter::kAgcDecay) - t;
    return (g - MatchedFilter::kAgcDecay) + t;
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
    fir_agc_sse41(s, in, used, out);
    // A gain that went to not-a-number (silence) was reset to 1.0: the
    // block tells nothing of the level.
    if (!s.gainReset) {
        const uint64_t power = sumOfSquares16_sse41(out, 4 * used);
        s.agcGain = coarseGain(s.agcGain, std::sqrt(double(power) / double(2 * used)));
    }
    return used;
}

namespace {

// Output and gain update of one group of four samples, shared by both
// kernels: sums[j] = (SIe, SQe, SIo, SQo) of sample j. v = sums × (gainNorm ×
// g) with g as it was at the group's start, rounded to nearest and saturated
// to 16 bits (as roundSaturate16 does); g updated after every sample.
inline void finishGroup(FirAgcState& f, const int32_t (*sums)[4], int16_t* out)
{
    float g = f.agcGain;
    const __m128 s = _mm_set1_ps(f.gainNorm * g);
    __m128i packed[2];
    for (int j = 0; j < 4; ++j) {
        const __m128 v = _mm_mul_ps(_mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sums[j]))), s);
        const __m128i rounded = _mm_cvtps_epi32(v);
        if (j % 2 == 0)
            packed[j / 2] = rounded;
        else
            packed[j / 2] = _mm_packs_epi32(packed[j / 2], rounded);
        const __m128 sq = _mm_mul_ps(v, v);
        const __m128 pairs = _mm_hadd_ps(sq, sq);   // (v0²+v1², v2²+v3², ...)
        g = agcUpdate(g, _mm_cvtss_f32(_mm_hadd_ps(pairs, pairs)));
    }
    f.agcGain = g;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed[0]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), packed[1]);
}

inline void endBlock(FirAgcState& f, uint64_t pos)
{
    f.historyPos = pos;
    f.gainReset = std::isnan(f.agcGain);
    if (f.gainReset)
        f.agcGain = 1.0f;
}

} // namespace

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
        finishGroup(f, sums, out + 4 * group);
        P += 4;
        if (P == n)
            P = 0;
    }
    endBlock(f, P);
}

void fir_agc_sse41(FirAgcState& f, const int16_t* in, size_t count, int16_t* out)
{
    // The samples in time order, I and Q apart, the window's older n − 1
    // first: each sum reads runs written before the chunk began, never a
    // sample stored a moment before (a narrow store read back by a wide
    // load stalls every sample).
    constexpr size_t kChunk = 256;
    const size_t n = size_t(f.tapCount / 2);
    if (count == 0) {
        endBlock(f, f.historyPos);
        return;
    }
    alignas(16) int16_t lineI[FirAgcState::kMaxTaps / 2 + kChunk];
    alignas(16) int16_t lineQ[FirAgcState::kMaxTaps / 2 + kChunk];
    const uint64_t P = f.historyPos;
    // Age a (1 … n − 1) before the block: stored at step (P − a) mod n.
    for (size_t a = 1; a < n; ++a) {
        const size_t at = n - 1 - size_t((P + n - a) % n);
        lineI[n - 1 - a] = f.historyI[at];
        lineQ[n - 1 - a] = f.historyQ[at];
    }
    size_t filled = n - 1;
    for (size_t done = 0; done < count;) {
        const size_t chunk = std::min(kChunk, count - done);   // a multiple of 4
        for (size_t k = 0; k < chunk; ++k) {
            lineI[n - 1 + k] = in[2 * (done + k)];
            lineQ[n - 1 + k] = in[2 * (done + k) + 1];
        }
        for (size_t group = 0; group < chunk; group += 4) {
            alignas(16) int32_t sums[4][4];
            for (size_t j = 0; j < 4; ++j) {
                // The window of the sample at group + j: n samples ending there.
                const int16_t* wi = lineI + group + j;
                const int16_t* wq = lineQ + group + j;
                __m128i ie = _mm_setzero_si128(), qe = ie, io = ie, qo = ie;
                for (size_t k = 0; k < n; k += 8) {
                    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wi + k));
                    const __m128i hq = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wq + k));
                    const __m128i e = _mm_load_si128(reinterpret_cast<const __m128i*>(f.evenOldestFirst + k));
                    const __m128i o = _mm_load_si128(reinterpret_cast<const __m128i*>(f.oddOldestFirst + k));
                    ie = _mm_add_epi32(ie, _mm_madd_epi16(hi, e));
                    qe = _mm_add_epi32(qe, _mm_madd_epi16(hq, e));
                    io = _mm_add_epi32(io, _mm_madd_epi16(hi, o));
                    qo = _mm_add_epi32(qo, _mm_madd_epi16(hq, o));
                }
                // Lanes: (SIe, SQe, SIo, SQo).
                const __m128i total = _mm_hadd_epi32(_mm_hadd_epi32(ie, qe), _mm_hadd_epi32(io, qo));
                _mm_store_si128(reinterpret_cast<__m128i*>(sums[j]), total);
            }
            finishGroup(f, sums, out + 4 * (done + group));
        }
        done += chunk;
        filled = n - 1 + chunk;
        if (done == count)
            break;
        // The newest n − 1 go to the front for the next chunk.
        std::memmove(lineI, lineI + chunk, (n - 1) * sizeof(int16_t));
        std::memmove(lineQ, lineQ + chunk, (n - 1) * sizeof(int16_t));
    }
    // The history as the sample-by-sample kernel leaves it: the sample of
    // age a (1 the last) in the slot of its step, end − a mod n.
    const uint64_t end = (P + count) % n;
    for (size_t a = 1; a <= n; ++a) {
        const size_t at = n - 1 - size_t((end + n - a) % n);
        f.historyI[at] = lineI[filled - a];
        f.historyQ[at] = lineQ[filled - a];
    }
    endBlock(f, end);
}
