#include "dsp/SymbolResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <smmintrin.h>

namespace {

// Farrow coefficients (C3, C2, C1, C0) in Q15 for the taps x[n], x[n−1],
// x[n−2], x[n−3]; each term is (x × k) >> 16 and the sum is doubled.
constexpr int16_t kFarrow[4][4] = {
    {-5461, 0, 5461, 0},
    {16384, 16384, -32768, 0},
    {-16384, -32768, 16384, 32767},
    {5461, 16384, 10923, 0},
};

inline int16_t mulhi(int16_t x, int16_t k) { return int16_t((int32_t(x) * k) >> 16); }
inline int16_t addSat(int32_t a, int32_t b) { return int16_t(std::clamp(a + b, -32768, 32767)); }
inline int16_t addWrap(int32_t a, int32_t b) { return int16_t(uint16_t(uint32_t(a + b))); }
inline int32_t add32(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
inline int32_t mul32(int32_t a, uint32_t b) { return int32_t(uint32_t(a) * b); }

// Timing error of the symbol y[k−1] between y[k−2] and y[k] (both components).
inline int32_t timingError(const int16_t (*y)[2])
{
    int32_t e = 0;
    for (int c = 0; c < 2; ++c)
        e = add32(e, int32_t(y[1][c]) * int16_t(uint16_t(y[2][c] - y[0][c])));
    return e;
}

// integrator + e, held within ±limit.
inline int32_t boundedAdd(int32_t integrator, int32_t e, int32_t limit)
{
    return int32_t(std::clamp<int64_t>(int64_t(integrator) + e, -int64_t(limit), int64_t(limit)));
}

inline void updateLoop(ResamplerState& r, int32_t e, int32_t limit)
{
    r.integrator = boundedAdd(r.integrator, e >> r.dampingShift, limit);
    r.correction = add32(r.integrator, e >> r.gainShift);
}

// The interpolant's fractional position, 65536 per input sample: how far
// the phase has run past its wrap, over the step that carried it there.
// Read as phase / 2^31, which it equals at the nominal two input samples
// per interpolant, the instants would stray from the symbol grid by up to
// a third of a sample wherever the step is another (2.5 or 3.5 samples per
// symbol), in a pattern the timing loop cannot take out: a clean signal
// then reads 17–30 dB, and at 1.25 samples per symbol nothing decodes.
// `scale` is 2^48 / step, taken once per block (2^17 at step 2^31, where
// μ is phase >> 15 exactly).
inline uint64_t muScaleFor(uint32_t step)
{
    if (step == 0)
        return 0;
    return std::min<uint64_t>((uint64_t(1) << 48) / step, uint64_t(1) << 32);
}

inline uint32_t fraction(uint32_t phase, uint64_t scale)
{
    return uint32_t(std::min<uint64_t>((uint64_t(phase) * scale) >> 32, 0x1FFFF));
}

inline void shiftIn(int16_t (*line)[2], int16_t first, int16_t second)
{
    for (int k = 3; k > 0; --k) {
        line[k][0] = line[k - 1][0];
        line[k][1] = line[k - 1][1];
    }
    line[0][0] = first;
    line[0][1] = second;
}

} // namespace

void ResamplerState::setSymbolRate(double inputRate, double symbolRate)
{
    const double perInput = symbolRate * (4294967296.0 / inputRate);
    // Truncated toward zero; a rate out of range gives no symbols rather than
    // an undefined conversion.
    const uint32_t half = (perInput >= 0 && perInput < 4294967296.0) ? uint32_t(perInput) : 0;
    step = half * 2u;
    phase = 0;
    integrator = 0;
    correction = 0;
}

void ResamplerState::relax(size_t symbols)
{
    const int64_t share = std::min<int64_t>(int64_t(symbols), kRelaxSymbols);
    const int32_t pull = int32_t(int64_t(integrator) * share / kRelaxSymbols);
    integrator -= pull;
    correction = add32(correction, -pull);
}

size_t SymbolResampler::process(const int16_t* in, size_t count, int16_t* out, bool perSample)
{
    return perSample ? resample_per_sample(s, in, count, out) : resample_sse41(s, in, count, out);
}

size_t resample_ref(ResamplerState& r, const int16_t* in, size_t count, int16_t* out)
{
    const int32_t limit = r.integratorLimit();
    const uint64_t scale = muScaleFor(r.step);
    size_t symbols = 0;
    for (size_t n = 0; n < count; ++n) {
        shiftIn(r.delay, in[2 * n], in[2 * n + 1]);
        const uint32_t sum = r.phase + (r.step + uint32_t(r.correction));
        const bool wrapped = sum < r.phase;   // the carry out of 32 bits
        r.phase = sum;
        if (!wrapped)
            continue;

        const uint32_t mu = fraction(r.phase, scale);
        int16_t y[2];
        for (int c = 0; c < 2; ++c) {
            int16_t coeff[4];
            for (int m = 0; m < 4; ++m) {
                int16_t acc = mulhi(r.delay[0][c], kFarrow[0][m]);
                for (int tap = 1; tap < 4; ++tap)
                    acc = addSat(acc, mulhi(r.delay[tap][c], kFarrow[tap][m]));
                coeff[m] = addSat(acc, acc);
            }
            int32_t h = coeff[0];
            for (int m = 1; m < 4; ++m)
                h = add32(mul32(h, mu) >> 16, coeff[m]);
            y[c] = int16_t(uint16_t(uint32_t(h)));
        }
        shiftIn(r.history, y[1], y[0]);   // stored as (b', a')

        const bool isSymbol = r.toggle == 0;
        r.toggle = ~r.toggle;
        if (isSymbol) {
            out[2 * symbols] = r.history[1][0];
            out[2 * symbols + 1] = r.history[1][1];
            ++symbols;
            updateLoop(r, timingError(r.history), limit);
        }
    }
    return symbols;
}

size_t resample_per_sample(ResamplerState& r, const int16_t* in, size_t count, int16_t* out)
{
    const int32_t limit = r.integratorLimit();
    const uint64_t scale = muScaleFor(r.step);
    size_t symbols = 0;
    for (size_t n = 0; n < count; ++n) {
        shiftIn(r.delay, in[2 * n], in[2 * n + 1]);
        const int64_t advance = int64_t(r.step) + int64_t(r.correction);
        const int64_t sum = int64_t(r.phase) + advance;
        if (sum < (int64_t(1) << 32)) {
            r.phase = uint32_t(uint64_t(sum));
            continue;
        }
        r.phase = uint32_t(uint64_t(sum - (int64_t(1) << 32)));

        const int64_t mu = fraction(r.phase, scale);
        int16_t y[2];
        for (int c = 0; c < 2; ++c) {
            int16_t coeff[4];
            for (int m = 0; m < 4; ++m) {
                int16_t acc = mulhi(r.delay[0][c], kFarrow[0][m]);
                for (int tap = 1; tap < 4; ++tap)
                    acc = addWrap(acc, mulhi(r.delay[tap][c], kFarrow[tap][m]));
                coeff[m] = addWrap(acc, acc);
            }
            int16_t h = coeff[0];
            for (int m = 1; m < 4; ++m)
                h = addWrap(int32_t((int64_t(h) * mu) >> 16), coeff[m]);
            y[c] = h;
        }
        shiftIn(r.history, y[1], y[0]);

        const bool isSymbol = r.toggle != 0;
        r.toggle = ~r.toggle;
        if (isSymbol) {
            out[2 * symbols] = r.history[1][0];
            out[2 * symbols + 1] = r.history[1][1];
            ++symbols;
            updateLoop(r, timingError(r.history), limit);
        }
    }
    return symbols;
}

namespace {

inline __m128i loadLine(const int16_t (*line)[2])
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(line));
}

inline void storeLine(int16_t (*line)[2], __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line), v);
}

// Row of tap t: lanes (C3, C3, C2, C2, C1, C1, C0, C0), one pair per component.
inline __m128i farrowRow(int tap)
{
    const int16_t* k = kFarrow[tap];
    return _mm_setr_epi16(k[0], k[0], k[1], k[1], k[2], k[2], k[3], k[3]);
}

} // namespace

size_t resample_sse41(ResamplerState& r, const int16_t* in, size_t count, int16_t* out)
{
    // What the loop carries stays in registers: every symbol's correction
    // feeds the next sample's phase, so one trip through memory would add a
    // store and a reload to the chain from symbol to symbol.
    const int32_t limit = r.integratorLimit();
    const uint64_t scale = muScaleFor(r.step);
    const uint32_t step = r.step;
    const int32_t dampingShift = r.dampingShift, gainShift = r.gainShift;
    int32_t integrator = r.integrator;
    int32_t correction = r.correction;
    int32_t toggle = r.toggle;
    uint32_t advance = step + uint32_t(correction);
    const __m128i row0 = farrowRow(0), row1 = farrowRow(1), row2 = farrowRow(2), row3 = farrowRow(3);
    // The low halves of a and b (32-bit lanes 0, 1) as one sample (b', a').
    const __m128i toSample = _mm_setr_epi8(4, 5, 0, 1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    // One complex sample per 32-bit lane, lane 0 the newest.
    __m128i delay = loadLine(r.delay);
    __m128i history = loadLine(r.history);
    uint32_t phase = r.phase;
    size_t symbols = 0;

    for (size_t n = 0; n < count; ++n) {
        int32_t sample;
        std::memcpy(&sample, in + 2 * n, 4);
        delay = _mm_or_si128(_mm_slli_si128(delay, 4), _mm_cvtsi32_si128(sample));
        const uint32_t sum = phase + advance;
        const bool wrapped = sum < phase;
        phase = sum;
        if (!wrapped)
            continue;

        // All eight coefficients (C3..C0 of a and b) at once, saturating.
        __m128i acc = _mm_mulhi_epi16(_mm_shuffle_epi32(delay, 0x00), row0);
        acc = _mm_adds_epi16(acc, _mm_mulhi_epi16(_mm_shuffle_epi32(delay, 0x55), row1));
        acc = _mm_adds_epi16(acc, _mm_mulhi_epi16(_mm_shuffle_epi32(delay, 0xAA), row2));
        acc = _mm_adds_epi16(acc, _mm_mulhi_epi16(_mm_shuffle_epi32(delay, 0xFF), row3));
        acc = _mm_adds_epi16(acc, acc);

        // Horner in 32-bit lanes (a, b, -, -): h = ((h·μ) >> 16) + C.
        const __m128i mu = _mm_set1_epi32(int32_t(fraction(phase, scale)));
        const __m128i c32 = _mm_cvtepi16_epi32(acc);                        // C3a C3b C2a C2b
        const __m128i c10 = _mm_cvtepi16_epi32(_mm_srli_si128(acc, 8));     // C1a C1b C0a C0b
        __m128i h = c32;
        h = _mm_add_epi32(_mm_srai_epi32(_mm_mullo_epi32(h, mu), 16), _mm_srli_si128(c32, 8));
        h = _mm_add_epi32(_mm_srai_epi32(_mm_mullo_epi32(h, mu), 16), c10);
        h = _mm_add_epi32(_mm_srai_epi32(_mm_mullo_epi32(h, mu), 16), _mm_srli_si128(c10, 8));
        history = _mm_or_si128(_mm_slli_si128(history, 4), _mm_shuffle_epi8(h, toSample));

        const bool isSymbol = toggle == 0;
        toggle = ~toggle;
        if (isSymbol) {
            const int32_t symbol = _mm_extract_epi32(history, 1);
            std::memcpy(out + 2 * symbols, &symbol, 4);
            ++symbols;
            // E = y1 · (y2 − y0) over both components.
            const __m128i diff = _mm_sub_epi16(_mm_shuffle_epi32(history, 0xAA), history);
            const int32_t e = _mm_cvtsi128_si32(_mm_madd_epi16(_mm_shuffle_epi32(history, 0x55), diff));
            integrator = boundedAdd(integrator, e >> dampingShift, limit);
            correction = add32(integrator, e >> gainShift);
            advance = step + uint32_t(correction);
        }
    }
    r.phase = phase;
    r.integrator = integrator;
    r.correction = correction;
    r.toggle = toggle;
    storeLine(r.delay, delay);
    storeLine(r.history, history);
    return symbols;
}
