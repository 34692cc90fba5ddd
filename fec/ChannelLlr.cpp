#include "fec/ChannelLlr.h"

#include "fec/ApskConstellation.h"

#include <smmintrin.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr float kCos = 0.92387953f; // cos 22.5°
constexpr float kSin = 0.38268343f; // sin 22.5°

constexpr int kChunk = 256;

float limitDb(float db) { return std::clamp(db, ChannelLlr::kLowestDb, ChannelLlr::kHighestDb); }

float ratioToDb(double signal, double noise)
{
    if (!(signal > 0))
        return ChannelLlr::kLowestDb;
    if (!(noise > 0))
        return ChannelLlr::kHighestDb;
    return limitDb(float(10.0 * std::log10(signal / noise)));
}

} // namespace

void ChannelLlr::quantiseReference(const float* llr, int8_t* out, int n)
{
    for (int i = 0; i < n; ++i) {
        const float units = llr[i] * kUnitsPerLlr;
        if (units != units)
            out[i] = 0;
        else if (!(units > -127.0f))
            out[i] = -127;
        else if (!(units < 127.0f))
            out[i] = 127;
        else
            out[i] = int8_t(std::nearbyint(units)); // ties to even, as the vector conversion
    }
}

void ChannelLlr::quantise(const float* llr, int8_t* out, int n)
{
    const __m128 scale = _mm_set1_ps(kUnitsPerLlr);
    const __m128 low = _mm_set1_ps(-127.0f);
    const __m128 high = _mm_set1_ps(127.0f);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i q[4];
        for (int k = 0; k < 4; ++k) {
            __m128 x = _mm_mul_ps(_mm_loadu_ps(llr + i + 4 * k), scale);
            const __m128 isNumber = _mm_cmpord_ps(x, x);
            x = _mm_min_ps(_mm_max_ps(x, low), high); // NaN becomes −127 here …
            x = _mm_and_ps(x, isNumber);              // … and 0 here
            q[k] = _mm_cvtps_epi32(x);
        }
        const __m128i words = _mm_packs_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), words);
    }
    quantiseReference(llr + i, out + i, n - i);
}

void ChannelLlr::scaleReference(const int8_t* in, float gain, int8_t* out, int n)
{
    const float factor = gain * kUnitsPerLlr;
    for (int i = 0; i < n; ++i) {
        const float units = float(in[i]) * factor;
        out[i] = units != units ? 0 : int8_t(std::nearbyint(std::clamp(units, -127.0f, 127.0f)));
    }
}

void ChannelLlr::scale(const int8_t* in, float gain, int8_t* out, int n)
{
    const __m128 factor = _mm_set1_ps(gain * kUnitsPerLlr);
    const __m128 low = _mm_set1_ps(-127.0f);
    const __m128 high = _mm_set1_ps(127.0f);
    int i = 0;
    if (factor[0] == factor[0]) {
        for (; i + 16 <= n; i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            __m128i q[4];
            for (int k = 0; k < 4; ++k) {
                __m128i part;
                switch (k) {
                case 0: part = _mm_cvtepi8_epi32(bytes); break;
                case 1: part = _mm_cvtepi8_epi32(_mm_srli_si128(bytes, 4)); break;
                case 2: part = _mm_cvtepi8_epi32(_mm_srli_si128(bytes, 8)); break;
                default: part = _mm_cvtepi8_epi32(_mm_srli_si128(bytes, 12)); break;
                }
                const __m128 x = _mm_mul_ps(_mm_cvtepi32_ps(part), factor);
                q[k] = _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(x, low), high));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                             _mm_packs_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3])));
        }
    }
    scaleReference(in + i, gain, out + i, n - i);
}

int64_t ChannelLlr::sumOfSquaresReference(const int8_t* values, int n)
{
    int64_t sum = 0;
    for (int i = 0; i < n; ++i)
        sum += int32_t(values[i]) * int32_t(values[i]);
    return sum;
}

int64_t ChannelLlr::sumOfSquares(const int8_t* values, int n)
{
    int64_t sum = 0;
    int i = 0;
    // Blocks of 4096 values: at most 4096 · 128² / 4 = 2²⁴ per 32-bit lane.
    while (i + 16 <= n) {
        const int end = std::min(n - 15, i + 4096);
        __m128i acc = _mm_setzero_si128();
        for (; i < end; i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i));
            const __m128i low = _mm_cvtepi8_epi16(bytes);
            const __m128i high = _mm_cvtepi8_epi16(_mm_srli_si128(bytes, 8));
            acc = _mm_add_epi32(acc, _mm_add_epi32(_mm_madd_epi16(low, low), _mm_madd_epi16(high, high)));
        }
        alignas(16) int32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
        sum += int64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
    }
    return sum + sumOfSquaresReference(values + i, n - i);
}

namespace {

// E|v| and E[v²] of what the demapper writes for y ~ N(mu, sigma²) on its
// scale: y truncated toward zero and limited to −128 … 127.
struct WrittenMoments {
    double absolute;
    double square;
};

WrittenMoments writtenMoments(double mu, double sigma)
{
    constexpr double kLow = -128.0, kHigh = 127.0;
    const auto cdf = [](double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); };
    const auto pdf = [](double z) { return std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI); };
    // ∫ f, ∫ y f and ∫ y² f over (lo, hi).
    const auto mass = [&](double lo, double hi) { return cdf((hi - mu) / sigma) - cdf((lo - mu) / sigma); };
    const auto first = [&](double lo, double hi) {
        const double a = (lo - mu) / sigma, b = (hi - mu) / sigma;
        return mu * (cdf(b) - cdf(a)) - sigma * (pdf(b) - pdf(a));
    };
    const auto second = [&](double lo, double hi) {
        const double a = (lo - mu) / sigma, b = (hi - mu) / sigma;
        return (mu * mu + sigma * sigma) * (cdf(b) - cdf(a)) - sigma * ((hi + mu) * pdf(b) - (lo + mu) * pdf(a));
    };
    const double below = cdf((kLow - mu) / sigma);
    const double above = 1.0 - cdf((kHigh - mu) / sigma);
    const double inside = mass(kLow, kHigh);
    const double absolute = first(0, kHigh) - first(kLow, 0);
    // Truncation takes a fraction of a unit, uniform where the density is
    // smooth on that scale: E|v| = E|y| − ½, E[v²] = E[y²] − E|y| + ⅓.
    return {-kLow * below + kHigh * above + absolute - 0.5 * inside,
            kLow * kLow * below + kHigh * kHigh * above + second(kLow, kHigh) - absolute + inside / 3.0};
}

} // namespace

float ChannelLlr::estimateQpskDb(const int8_t* values, int n)
{
    if (values == nullptr || n <= 0)
        return NAN;
    double m1 = 0, m2 = 0;
    for (int i = 0; i < n; ++i) {
        m1 += std::fabs(double(values[i]));
        m2 += double(values[i]) * double(values[i]);
    }
    m1 /= n;
    m2 /= n;
    if (!(m2 > 0))
        return kLowestDb;
    // y = ±μ + noise as the demapper writes it: truncated, and limited to
    // −128 … 127. At a low Es/N0 much of the noise lies beyond the limit,
    // and moments that leave it out read several dB high (−2 dB read as
    // 4.4). The model's E|v| and E[v²] are fitted instead: for each Es/N0
    // tried, the noise that gives the measured E[v²]; the Es/N0 is the one
    // whose E|v| then matches (E|v| grows with the Es/N0 at a given E[v²]).
    const auto moments = [](double rho, double sigma) {
        const double mu = std::sqrt(rho) * sigma;
        const WrittenMoments plus = writtenMoments(mu, sigma), minus = writtenMoments(-mu, sigma);
        return WrittenMoments{(plus.absolute + minus.absolute) / 2, (plus.square + minus.square) / 2};
    };
    const auto absoluteAt = [&](double db) {
        const double rho = std::pow(10.0, db / 10.0);
        double lo = 1e-2, hi = 1e4;   // σ
        for (int k = 0; k < 50; ++k) {
            const double sigma = std::sqrt(lo * hi);
            (moments(rho, sigma).square < m2 ? lo : hi) = sigma;
        }
        return moments(rho, std::sqrt(lo * hi)).absolute;
    };
    double lo = kLowestDb, hi = kHighestDb;
    if (absoluteAt(hi) <= m1)
        return kHighestDb;
    if (absoluteAt(lo) >= m1)
        return kLowestDb;
    for (int k = 0; k < 24; ++k) {
        const double mid = 0.5 * (lo + hi);
        (absoluteAt(mid) < m1 ? lo : hi) = mid;
    }
    return float(0.5 * (lo + hi));
}

float ChannelLlr::estimate8pskDb(const int8_t* u, const int8_t* v, int symbols)
{
    if (u == nullptr || v == nullptr || symbols <= 0)
        return NAN;
    double m2 = 0, m4 = 0;
    for (int i = 0; i < symbols; ++i) {
        const double r2 = double(u[i]) * double(u[i]) + double(v[i]) * double(v[i]);
        m2 += r2;
        m4 += r2 * r2;
    }
    m2 /= symbols;
    m4 /= symbols;
    // Constant modulus A in complex noise of power N0: E|y|² = A² + N0,
    // E|y|⁴ = A⁴ + 4A²N0 + 2N0².
    const double a2 = std::sqrt(std::max(0.0, 2.0 * m2 * m2 - m4));
    return ratioToDb(a2, m2 - a2);
}

float ChannelLlr::estimateApskDb(const int8_t* i, const int8_t* q, int symbols, int modcod)
{
    const ApskConstellation* c = apskConstellation(modcod);
    if (i == nullptr || q == nullptr || symbols <= 0 || c == nullptr)
        return NAN;
    const double m2 = double(sumOfSquares(i, symbols) + sumOfSquares(q, symbols)) / symbols;
    // Decided by the nearest point at the amplitude that the last round's
    // noise leaves: E|y|² = A² + N0 for points of unit mean energy. (Near
    // the threshold the wrong decisions hide some noise: the estimate reads
    // 1-2 dB high there. The moments alone, free of that, scatter by as much
    // on a frame's symbols at these Es/N0.)
    double n0 = 0;
    for (int round = 0; round < 4; ++round) {
        const float a = float(std::sqrt(std::max(m2 - n0, 0.0)));
        double sum = 0;
        for (int k = 0; k < symbols; ++k) {
            const std::complex<float> y(i[k], q[k]);
            float nearest = INFINITY;
            for (int p = 0; p < c->size; ++p)
                nearest = std::min(nearest, std::norm(y - a * c->points[size_t(p)]));
            sum += nearest;
        }
        n0 = sum / symbols;
    }
    return ratioToDb(m2 - n0, n0);
}

void ChannelLlr::convertApsk(int8_t* values, int n, int modcod, float db)
{
    const ApskConstellation& c = *apskConstellation(modcod);
    const int bits = c.bitsPerSymbol;
    const int symbols = n / bits;
    int8_t* is = values;
    int8_t* qs = values + symbols;
    const double rho = std::pow(10.0, double(db) / 10.0);
    const double m2 = double(sumOfSquares(is, symbols) + sumOfSquares(qs, symbols)) / symbols;
    const double n0 = m2 / (1.0 + rho);
    const float amplitude = float(std::sqrt(rho * n0));
    const float perN0 = n0 > 0 ? float(1.0 / n0) : 0.0f;
    float px[32], py[32];
    for (int p = 0; p < c.size; ++p) {
        px[p] = amplitude * c.points[size_t(p)].real();
        py[p] = amplitude * c.points[size_t(p)].imag();
    }
    float llr[5][kChunk];
    for (int start = 0; start < symbols; start += kChunk) {
        const int count = std::min(kChunk, symbols - start);
        for (int k = 0; k < count; ++k) {
            const float x = is[start + k], y = qs[start + k];
            float d[32];
            for (int p = 0; p < c.size; ++p)
                d[p] = (x - px[p]) * (x - px[p]) + (y - py[p]) * (y - py[p]);
            for (int b = 0; b < bits; ++b) {
                const int mask = 1 << (bits - 1 - b);
                float zero = INFINITY, one = INFINITY;
                for (int p = 0; p < c.size; ++p) {
                    if (p & mask)
                        one = std::min(one, d[p]);
                    else
                        zero = std::min(zero, d[p]);
                }
                llr[b][k] = (one - zero) * perN0;
            }
        }
        for (int b = 0; b < bits; ++b)
            quantise(llr[b], values + b * symbols + start, count);
    }
}

bool ChannelLlr::convert(int8_t* values, int n, uint8_t plsCode, float qualityDb, float* usedDb)
{
    const int modcod = plsCode & 0x1F;
    const int frameValues = (plsCode & 0x20) ? 16200 : 64800;
    const bool qpsk = modcod >= 1 && modcod <= 11;
    const bool psk8 = modcod >= 12 && modcod <= 17;
    const bool apsk = apskConstellation(modcod) != nullptr;
    if (values == nullptr || n != frameValues || !(qpsk || psk8 || apsk))
        return false;

    if (apsk) {
        const int symbols = n / apskConstellation(modcod)->bitsPerSymbol;
        const float db =
            std::isnan(qualityDb) ? estimateApskDb(values, values + symbols, symbols, modcod) : limitDb(qualityDb);
        convertApsk(values, n, modcod, db);
        if (usedDb != nullptr)
            *usedDb = db;
        return true;
    }

    if (qpsk) {
        const float db = std::isnan(qualityDb) ? estimateQpskDb(values, n) : limitDb(qualityDb);
        const double rho = std::pow(10.0, double(db) / 10.0);
        const double m2 = double(sumOfSquares(values, n)) / n;
        const double sigma2 = m2 / (1.0 + rho);
        const double mu = std::sqrt(rho * sigma2);
        const float gain = sigma2 > 0 ? float(2.0 * mu / sigma2) : 0.0f;
        scale(values, gain, values, n);
        if (usedDb != nullptr)
            *usedDb = db;
        return true;
    }

    // 8PSK: thirds of the frame hold |v| − |u|, v and u; 8PSK 3/5 has the
    // first and last thirds swapped.
    const int symbols = n / 3;
    const bool reversed = modcod == 12;
    int8_t* diag = values + (reversed ? 2 * symbols : 0);
    int8_t* vs = values + symbols;
    int8_t* us = values + (reversed ? 0 : 2 * symbols);
    const float db = std::isnan(qualityDb) ? estimate8pskDb(us, vs, symbols) : limitDb(qualityDb);
    const double rho = std::pow(10.0, double(db) / 10.0);
    const double m2 = double(sumOfSquares(us, symbols) + sumOfSquares(vs, symbols)) / symbols;
    const double n0 = m2 / (1.0 + rho);
    const double amplitude = std::sqrt(rho * n0);
    // Max-log: LLR = 2A/N0 · (largest correlation with a point whose bit is 0
    // − largest with a point whose bit is 1); points at 22.5° + k·45°.
    const float gain = n0 > 0 ? float(2.0 * amplitude / n0) : 0.0f;
    float diagLlr[kChunk], vLlr[kChunk], uLlr[kChunk];
    for (int start = 0; start < symbols; start += kChunk) {
        const int count = std::min(kChunk, symbols - start);
        for (int i = 0; i < count; ++i) {
            const float u = float(us[start + i]);
            const float v = float(vs[start + i]);
            const float au = std::fabs(u);
            const float av = std::fabs(v);
            vLlr[i] = gain * (std::max(kCos * au + kSin * v, kSin * au + kCos * v)
                              - std::max(kCos * au - kSin * v, kSin * au - kCos * v));
            uLlr[i] = gain * (std::max(kCos * u + kSin * av, kSin * u + kCos * av)
                              - std::max(kSin * av - kCos * u, kCos * av - kSin * u));
            diagLlr[i] = gain * (kCos - kSin) * (av - au);
        }
        quantise(diagLlr, diag + start, count);
        quantise(vLlr, vs + start, count);
        quantise(uLlr, us + start, count);
    }
    if (usedDb != nullptr)
        *usedDb = db;
    return true;
}
