#include "demod/CarrierAcquisition.h"

#include "demod/CarrierLoop.h"
#include "demod/PlSignalling.h"

#include <cmath>
#include <initializer_list>
#include <vector>

namespace {

// Headers whose bits differ from their code word in more places are left out.
constexpr int kMaxHeaderErrors = 6;
// The spread of one header's measurement taken at the least, 1/256 cycle
// per symbol: at 4 dB (0.073 measured) with some margin; more at a lower
// Es/N0 where it is known. An average of n headers is acted on when it
// differs from the integrator by more than three times its own spread,
// 3·spread/√n (kHoldingSpreads times where the loop holds the carrier).
constexpr float kSpread = 0.1f;
constexpr double kSpreadAtUnitEsN0 = 0.1163;
// The average restarts after this many headers, so that a carrier that
// drifts while the framing never locks is followed.
constexpr int kMaxHeaders = 64;
// How far, in spreads of their mean, the headers' readings must stand off a
// loop that holds the carrier to move it.
constexpr float kHoldingSpreads = 4.5f;

} // namespace

void CarrierAcquisition::reset()
{
    sums.fill({});
    count = 0;
    base = 0;
    residualSum = 0;
    residualCount = 0;
}

float CarrierAcquisition::estimate() const { return estimateFrom(sums); }

float CarrierAcquisition::estimateFrom(const std::array<std::complex<double>, kLags>& lagSums) const
{
    std::complex<double> total = 0;
    for (const auto& s : lagSums)
        total += s;
    if (total == std::complex<double>(0, 0))
        return base;
    // Each lag m turns by m·ω; normalised sums over lags 1 … M turn on
    // average by (M + 1)·ω / 2.
    const double omega = 2 * std::arg(total) / (kLags + 1);
    return base + float(omega / (2 * M_PI) * 256);
}

namespace {

// The π/2-BPSK symbol of bit b at header position p (0 … 89), unscaled.
std::complex<double> plReference(int p, uint32_t b)
{
    const double sign = b ? -1.0 : 1.0;
    return p % 2 == 0 ? std::complex<double>(sign, sign) : std::complex<double>(sign, -sign);
}

uint32_t sofBitAt(int p) { return (kSofBits >> (25 - p)) & 1u; }

struct KnownCarrier {
    double omega = 0;       // radians per symbol
    double coherence = 0;   // |Σ x turned back by ω| / Σ |x|
    double spread = 0;      // expected standard deviation of ω
};

// The carrier of n symbols whose modulation is taken off: a lag-1
// differential estimate, which no offset below half the symbol rate
// aliases, refined in `stages`: the autocorrelation of what is left over
// lags 1 … L turns on average by (L + 1)/2 times the remaining offset, which
// must stay within ±π, so that a long run of symbols is refined first over
// a few lags and then over half its length.
KnownCarrier readKnown(const std::complex<double>* x, int n, std::initializer_list<int> stages)
{
    KnownCarrier k;
    double magnitude = 0, power = 0;
    for (int p = 0; p < n; ++p) {
        magnitude += std::abs(x[p]);
        power += std::norm(x[p]);
    }
    if (magnitude <= 0)
        return k;
    std::complex<double> lag1 = 0;
    for (int p = 1; p < n; ++p)
        lag1 += x[p] * std::conj(x[p - 1]);
    k.omega = std::arg(lag1);
    std::vector<std::complex<double>> y(static_cast<size_t>(n));
    for (int lags : stages) {
        for (int p = 0; p < n; ++p)
            y[size_t(p)] = x[p] * std::polar(1.0, -k.omega * p);
        std::complex<double> total = 0;
        for (int m = 1; m <= lags; ++m) {
            std::complex<double> r = 0;
            for (int p = m; p < n; ++p)
                r += y[size_t(p)] * std::conj(y[size_t(p - m)]);
            total += r / double(n - m);
        }
        k.omega += 2 * std::arg(total) / (lags + 1);
    }
    std::complex<double> turned = 0;
    for (int p = 0; p < n; ++p)
        turned += x[p] * std::polar(1.0, -k.omega * p);
    k.coherence = std::abs(turned) / magnitude;
    // The Cramér–Rao bound of a frequency on n known symbols, 6 / (SNR·n(n² − 1)).
    const double signal = std::norm(turned) / (double(n) * n);
    const double noise = std::max(power / n - signal, 1e-3 * signal);
    k.spread = std::sqrt(6.0 / (signal / noise * n * (double(n) * n - 1)));
    return k;
}

float loopUnits(double omega) { return float(omega / (2 * M_PI) * 256); }

} // namespace

CarrierAcquisition::SofReading CarrierAcquisition::readSof(bool mirrored) const
{
    SofReading reading;
    constexpr int n = 26;
    float magnitude = 0;
    std::array<std::complex<double>, n> x;
    for (int p = 0; p < n; ++p) {
        const std::complex<float> raw = mirrored ? std::conj(header[size_t(p)]) : header[size_t(p)];
        x[size_t(p)] = std::complex<double>(raw) * std::conj(plReference(p, sofBitAt(p))) * M_SQRT1_2;
        reading.symbols[size_t(p)] = std::complex<float>(x[size_t(p)]);
        reading.sum += reading.symbols[size_t(p)];
        magnitude += std::abs(reading.symbols[size_t(p)]);
    }
    if (magnitude <= 0)
        return reading;
    const KnownCarrier k = readKnown(x.data(), n, {n / 2});
    reading.frequency = loopUnits(k.omega);
    reading.coherence = float(k.coherence);
    reading.unturnedCoherence = std::abs(reading.sum) / magnitude;
    reading.spread = loopUnits(k.spread);
    return reading;
}

std::array<std::complex<double>, CarrierAcquisition::kSymbols> CarrierAcquisition::knownHeader(uint64_t descrambled) const
{
    const uint64_t sent = encodePlsHeader(decodePlsHeader(descrambled)) ^ kPlHeaderScrambling;
    std::array<std::complex<double>, kSymbols> x;
    for (int p = 0; p < kSymbols; ++p) {
        const uint32_t bit = p < 26 ? sofBitAt(p) : uint32_t((sent >> (63 - (p - 26))) & 1u);
        x[size_t(p)] = std::complex<double>(header[size_t(p)]) * std::conj(plReference(p, bit)) * M_SQRT1_2;
    }
    return x;
}

CarrierAcquisition::HeaderReading CarrierAcquisition::readHeader(uint64_t descrambled) const
{
    const auto x = knownHeader(descrambled);
    const KnownCarrier k = readKnown(x.data(), kSymbols, {6, kSymbols / 2});
    return {loopUnits(k.omega), loopUnits(k.spread)};
}

int32_t CarrierAcquisition::headerPhase(uint64_t descrambled, float frequency) const
{
    const auto x = knownHeader(descrambled);
    const double omega = double(frequency) / 256 * 2 * M_PI;
    std::complex<double> phase = 0;
    for (int p = 0; p < kSymbols; ++p)
        phase += x[size_t(p)] * std::polar(1.0, -omega * (p - (kSymbols - 1)));
    return int32_t(std::lround(std::arg(phase) / (2 * M_PI) * 65536)) & 0xFFFF;
}

uint64_t CarrierAcquisition::headerBitsAt(float frequency) const
{
    const double omega = double(frequency) / 256 * 2 * M_PI;
    std::complex<double> sof = 0;
    for (int p = 0; p < 26; ++p)
        sof += std::complex<double>(header[size_t(p)]) * std::conj(plReference(p, sofBitAt(p))) *
               std::polar(1.0, -omega * p);
    const double phase0 = std::arg(sof);
    uint64_t bits = 0;
    for (int p = 26; p < kSymbols; ++p) {
        const std::complex<double> z = std::complex<double>(header[size_t(p)]) * std::polar(1.0, -phase0 - omega * p);
        const bool one = p % 2 == 0 ? z.real() + z.imag() < 0 : z.real() - z.imag() < 0;
        bits = (bits << 1) | uint64_t(one);
    }
    return bits;
}

int32_t CarrierAcquisition::SofReading::phaseAt(int position, float atFrequency) const
{
    const double omega = double(atFrequency) / 256 * 2 * M_PI;
    std::complex<double> turned = 0;
    for (size_t p = 0; p < symbols.size(); ++p)
        turned += std::complex<double>(symbols[p]) * std::polar(1.0, -omega * double(p));
    const double cycles = (std::arg(turned) + omega * position) / (2 * M_PI);
    return int32_t(std::lround(cycles * 65536)) & 0xFFFF;
}

float CarrierAcquisition::headerSpread(float esn0Db)
{
    // Measured on headers in white noise: 0.151 at −2 dB, 0.100 at 1.3 dB,
    // 0.073 at 4 dB, 0.038 at 10 dB, that is 0.116/√ρ at Es/N0 ρ.
    const double rho = std::pow(10.0, std::clamp(double(esn0Db), -10.0, 30.0) / 10);
    return float(kSpreadAtUnitEsN0 / std::sqrt(rho));
}

void CarrierAcquisition::headerDone(uint64_t descrambled, bool locked, CarrierLoop& loop, float esn0Db, bool holding)
{
    if (!loop.enabled() || locked) {
        reset();
        return;
    }
    const uint64_t code = encodePlsHeader(decodePlsHeader(descrambled));
    if (__builtin_popcountll(code ^ descrambled) > kMaxHeaderErrors) {
        // Read at a loop that is off the carrier, the header turns past a
        // few of its bits however strong: it counts when it reads cleanly at
        // the carrier it shows itself.
        const uint64_t own = headerBitsAt(readHeader(descrambled).frequency) ^ kPlHeaderScrambling;
        if (__builtin_popcountll(code ^ own) > kMaxHeaderErrors)
            return;
    }

    // The modulation taken off: x = raw · conj(reference), π/2-BPSK with the
    // SOF bits and then the scrambled code word.
    // The lags alias beyond ±1/(kLags + 1) cycle per symbol: the sums are of
    // what is left once the carrier the loop was given when they began is
    // taken off, which the SOF has put within reach.
    if (count == 0)
        base = loop.integrator;
    const double baseOmega = double(base) / 256 * 2 * M_PI;
    const uint64_t sent = code ^ kPlHeaderScrambling;
    std::array<std::complex<double>, kSymbols> x;
    for (int p = 0; p < kSymbols; ++p) {
        const uint32_t bit = p < 26 ? sofBitAt(p) : uint32_t((sent >> (63 - (p - 26))) & 1u);
        x[size_t(p)] = std::complex<double>(header[size_t(p)]) * std::conj(plReference(p, bit)) *
                       std::polar(1.0, -baseOmega * p);
    }
    std::array<std::complex<double>, kLags> own;
    for (int m = 1; m <= kLags; ++m) {
        std::complex<double> r = 0;
        for (int k = m; k < kSymbols; ++k)
            r += x[size_t(k)] * std::conj(x[size_t(k - m)]);
        own[size_t(m - 1)] = r / double(kSymbols - m);
        sums[size_t(m - 1)] += own[size_t(m - 1)];
    }
    ++count;

    // What the loop is off by, header by header: against the integrator of
    // the time, so that a loop following a drifting carrier reads as on it
    // (the average of the carrier itself lags a drift). Their mean acts when
    // it stands out of its own noise, and when this header agrees with it:
    // one header read while the gain or the timing were still settling can
    // pull a mean of two or three a long way. Never taken below kSpread: at
    // the start the timing's settling skews the readings by about that much
    // (0.12 at 6 dB).
    const float spread = std::isfinite(esn0Db) ? std::max(kSpread, headerSpread(esn0Db)) : kSpread;
    const float residual = estimateFrom(own) - loop.integrator;
    residualSum += residual;
    ++residualCount;
    const float difference = residualSum / float(residualCount);
    const bool agrees = std::fabs(residual - difference) < 2 * spread;
    // Once headers follow each other in place the loop holds the carrier
    // near enough to read them, and one header alone, however far off it
    // reads, is noise (at −2 dB one in several hundred reads 3.5 spreads
    // off, and moved a loop that held the carrier off it for 40 frames):
    // two must agree.
    const int needed = holding ? 2 : 1;
    // And the mean, tested again at every header up to kMaxHeaders, passes
    // three of its spreads by chance in one acquisition in a hundred or so:
    // a loop that holds the carrier is moved only beyond kHoldingSpreads (at
    // 1.3 dB fourteen headers' mean read 3.2 spreads off and moved a loop on
    // the carrier, which then took fifteen frames, all lost, to come back).
    const float sigmas = holding ? kHoldingSpreads : 3.0f;
    if (residualCount >= needed && agrees && std::fabs(difference) > sigmas * spread / std::sqrt(float(residualCount))) {
        // The loop has been slipping, so its phase is as far off as its
        // frequency: the data that follows would be taken up a quarter turn
        // away as often as not. The oscillator takes the phase of the last
        // header symbol too, from the whole header at the new frequency.
        const double omega = double(loop.integrator + difference) / 256 * 2 * M_PI;
        std::complex<double> phase = 0;
        for (int p = 0; p < kSymbols; ++p)
            phase += x[size_t(p)] * std::polar(1.0, baseOmega * p - omega * (p - (kSymbols - 1)));
        const double cycles = std::arg(phase) / (2 * M_PI);
        loop.phase = int32_t(std::lround(cycles * 65536)) & 0xFFFF;
        loop.integrator += difference;
        loop.frequency += difference;
        ++corrections;
        residualSum = 0;
        residualCount = 0;
    }
    if (count >= kMaxHeaders)
        reset();
}
