#include "demod/QpskDecisionQuality.h"

#include <algorithm>
#include <cmath>
#include <smmintrin.h>

QpskMoments qpsk_moments_ref(const std::complex<float>* symbols, size_t n)
{
    float absolute = 0, power = 0, fourth = 0, fourthPower = 0;
    for (size_t k = 0; k < n; ++k) {
        const float i = symbols[k].real();
        const float q = symbols[k].imag();
        const float ii = i * i, qq = q * q;
        const float p = ii + qq;
        const float re2 = ii - qq;   // r² = (I² − Q²) + 2jIQ
        absolute += std::fabs(i) + std::fabs(q);
        power += p;
        fourth += 4 * ii * qq - re2 * re2;   // −Re(r⁴) = (Im r²)² − (Re r²)²
        fourthPower += p * p;
    }
    return {double(absolute), double(power), double(fourth), double(fourthPower), double(n)};
}

QpskMoments qpsk_moments_sse41(const std::complex<float>* symbols, size_t n)
{
    // Four symbols per step, one per lane.
    const float* x = reinterpret_cast<const float*>(symbols);
    const __m128 signBits = _mm_set1_ps(-0.0f);
    const __m128 four = _mm_set1_ps(4.0f);
    __m128 absolute = _mm_setzero_ps(), power = _mm_setzero_ps();
    __m128 fourth = _mm_setzero_ps(), fourthPower = _mm_setzero_ps();
    size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const __m128 a = _mm_loadu_ps(x + 2 * k);       // I0 Q0 I1 Q1
        const __m128 b = _mm_loadu_ps(x + 2 * k + 4);   // I2 Q2 I3 Q3
        absolute = _mm_add_ps(absolute, _mm_add_ps(_mm_andnot_ps(signBits, a), _mm_andnot_ps(signBits, b)));
        const __m128 a2 = _mm_mul_ps(a, a);
        const __m128 b2 = _mm_mul_ps(b, b);
        const __m128 ii = _mm_shuffle_ps(a2, b2, _MM_SHUFFLE(2, 0, 2, 0));   // I0² I1² I2² I3²
        const __m128 qq = _mm_shuffle_ps(a2, b2, _MM_SHUFFLE(3, 1, 3, 1));   // Q0² Q1² Q2² Q3²
        const __m128 p = _mm_add_ps(ii, qq);
        const __m128 re2 = _mm_sub_ps(ii, qq);
        power = _mm_add_ps(power, p);
        fourth = _mm_add_ps(fourth, _mm_sub_ps(_mm_mul_ps(four, _mm_mul_ps(ii, qq)), _mm_mul_ps(re2, re2)));
        fourthPower = _mm_add_ps(fourthPower, _mm_mul_ps(p, p));
    }
    alignas(16) float lanes[4][4];
    _mm_store_ps(lanes[0], absolute);
    _mm_store_ps(lanes[1], power);
    _mm_store_ps(lanes[2], fourth);
    _mm_store_ps(lanes[3], fourthPower);
    QpskMoments m = qpsk_moments_ref(symbols + k, n - k);
    m.absolute += double((lanes[0][0] + lanes[0][1]) + (lanes[0][2] + lanes[0][3]));
    m.power += double((lanes[1][0] + lanes[1][1]) + (lanes[1][2] + lanes[1][3]));
    m.fourth += double((lanes[2][0] + lanes[2][1]) + (lanes[2][2] + lanes[2][3]));
    m.fourthPower += double((lanes[3][0] + lanes[3][1]) + (lanes[3][2] + lanes[3][3]));
    m.symbols = double(n);
    return m;
}

namespace {

// In pieces that end where the window's blocks do.
template <typename Window>
void addMoments(Window& window, const std::complex<float>* symbols, size_t n)
{
    while (n > 0) {
        const size_t piece = std::min(n, size_t(window.room()));
        window.add(qpsk_moments_sse41(symbols, piece));
        symbols += piece;
        n -= piece;
    }
}

} // namespace

bool constantModulusEsn0Db(const QpskMoments& t, double& esn0Db)
{
    if (!(t.symbols > 0))
        return false;
    const double m2 = t.power / t.symbols;
    const double m4 = t.fourthPower / t.symbols;
    const double s2 = 2 * m2 * m2 - m4;
    if (!(s2 > 0))
        return false;
    const double signal = std::sqrt(s2);
    esn0Db = qualityDb(signal, m2 - signal);
    return true;
}

void QpskDecisionQuality::add(const std::complex<float>* symbols, size_t n)
{
    addMoments(window, symbols, n);
}

void ConstantModulusQuality::add(const std::complex<float>* symbols, size_t n)
{
    if (n == 0)
        return;
    if (run.empty() && n >= kLevelSymbols) {
        addRun(symbols, n);
        return;
    }
    run.insert(run.end(), symbols, symbols + n);
    if (run.size() < kLevelSymbols)
        return;
    addRun(run.data(), run.size());
    run.clear();
}

void ConstantModulusQuality::addRun(const std::complex<float>* symbols, size_t n)
{
    double power = 0;
    for (size_t k = 0; k < n; ++k)
        power += double(std::norm(symbols[k]));
    power /= double(n);
    // Moments of symbols at two levels read as a modulus that varies, that
    // is as noise: while the gain control settles (the first blocks after a
    // start, a retune), what came before is forgotten.
    levelSteady = lastPower > 0 && std::fabs(power / lastPower - 1.0) <= kLevelStep;
    if (lastPower > 0 && !levelSteady)
        window.clear();
    lastPower = power;
    addMoments(window, symbols, n);
}

SignalQualityReading ConstantModulusQuality::reading() const
{
    SignalQualityReading r;
    double esn0Db = 0;
    if (window.blocks() < QpskDecisionQuality::kMinBlocks || !constantModulusEsn0Db(window.total(), esn0Db) ||
        esn0Db < QpskDecisionQuality::kFloorDb)
        return r;
    r.valid = true;
    r.esn0Db = esn0Db;
    return r;
}

SignalQualityReading ConstantModulusQuality::qpskReading() const
{
    if (window.blocks() < kQpskMinBlocks)
        return SignalQualityReading();
    return QpskDecisionQuality::readingOf(window.total());
}

double QpskDecisionQuality::decisionRatio(double esn0)
{
    const double meanAbs = std::sqrt(2 / M_PI) * std::exp(-esn0 / 2) + std::sqrt(esn0) * std::erf(std::sqrt(esn0 / 2));
    return meanAbs * meanAbs / (1 + esn0);
}

double QpskDecisionQuality::esn0FromDecisionRatio(double rho)
{
    // The curve rises monotonically from 2/π at γ = 0 towards 1: bisection
    // in dB between −30 and 70 dB, to far below a thousandth of a dB.
    if (!(rho > 2 / M_PI))
        return 0;
    double low = -30, high = 70;
    for (int k = 0; k < 50; ++k) {
        const double mid = (low + high) / 2;
        if (decisionRatio(std::pow(10, mid / 10)) < rho)
            low = mid;
        else
            high = mid;
    }
    return std::pow(10, (low + high) / 2 / 10);
}

SignalQualityReading QpskDecisionQuality::reading() const
{
    if (window.blocks() < kMinBlocks)
        return SignalQualityReading();
    return readingOf(window.total());
}

SignalQualityReading QpskDecisionQuality::readingOf(const QpskMoments& t)
{
    SignalQualityReading r;
    double esn0Db = 0;
    if (!constantModulusEsn0Db(t, esn0Db))
        return r;

    // MER from the decisions, per component: mean |x| and mean x² over 2N
    // components.
    const double meanAbs = t.absolute / (2 * t.symbols);
    const double meanSquare = t.power / (2 * t.symbols);
    const double mer = esn0FromDecisionRatio(meanAbs * meanAbs / meanSquare);

    const double coherence = t.fourth / t.fourthPower;
    if (esn0Db < kFloorDb || coherence < 0.5 * lockedCoherence(std::pow(10, esn0Db / 10)))
        return r;
    r.valid = true;
    r.merValid = true;
    r.merDb = qualityDb(mer, 1);
    r.esn0Db = esn0Db;
    return r;
}
