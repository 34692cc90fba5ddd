#include "demod/CarrierAcquisition.h"

#include "demod/CarrierLoop.h"
#include "demod/PlSignalling.h"

#include <cmath>

namespace {

// Headers whose bits differ from their code word in more places are left out.
constexpr int kMaxHeaderErrors = 6;
// The spread of one header's measurement at Es/N0 4 dB, 1/256 cycle per
// symbol (0.076 simulated, with some margin); an average of n headers is
// acted on when it differs from the integrator by more than three times its
// own spread, 3·kSpread/√n.
constexpr float kSpread = 0.1f;
// The average restarts after this many headers, so that a carrier that
// drifts while the framing never locks is followed.
constexpr int kMaxHeaders = 64;

} // namespace

void CarrierAcquisition::reset()
{
    sums.fill({});
    count = 0;
}

float CarrierAcquisition::estimate() const
{
    std::complex<double> total = 0;
    for (const auto& s : sums)
        total += s;
    if (total == std::complex<double>(0, 0))
        return 0;
    // Each lag m turns by m·ω; normalised sums over lags 1 … M turn on
    // average by (M + 1)·ω / 2.
    const double omega = 2 * std::arg(total) / (kLags + 1);
    return float(omega / (2 * M_PI) * 256);
}

namespace {

// The π/2-BPSK symbol of bit b at header position p (0 … 89), unscaled.
std::complex<double> plReference(int p, uint32_t b)
{
    const double sign = b ? -1.0 : 1.0;
    return p % 2 == 0 ? std::complex<double>(sign, sign) : std::complex<double>(sign, -sign);
}

uint32_t sofBitAt(int p) { return (kSofBits >> (25 - p)) & 1u; }

} // namespace

void CarrierAcquisition::headerDone(uint64_t descrambled, bool locked, CarrierLoop& loop)
{
    if (!loop.enabled || locked) {
        reset();
        return;
    }
    const uint64_t code = encodePlsHeader(decodePlsHeader(descrambled));
    if (__builtin_popcountll(code ^ descrambled) > kMaxHeaderErrors)
        return;

    // The modulation taken off: x = raw · conj(reference), π/2-BPSK with the
    // SOF bits and then the scrambled code word.
    const uint64_t sent = code ^ kPlHeaderScrambling;
    std::array<std::complex<double>, kSymbols> x;
    for (int p = 0; p < kSymbols; ++p) {
        const uint32_t bit = p < 26 ? sofBitAt(p) : uint32_t((sent >> (63 - (p - 26))) & 1u);
        x[size_t(p)] = std::complex<double>(header[size_t(p)]) * std::conj(plReference(p, bit));
    }
    for (int m = 1; m <= kLags; ++m) {
        std::complex<double> r = 0;
        for (int k = m; k < kSymbols; ++k)
            r += x[size_t(k)] * std::conj(x[size_t(k - m)]);
        sums[size_t(m - 1)] += r / double(kSymbols - m);
    }
    ++count;

    const float difference = estimate() - loop.integrator;
    if (std::fabs(difference) > 3 * kSpread / std::sqrt(float(count))) {
        // The loop has been slipping, so its phase is as far off as its
        // frequency: the data that follows would be taken up a quarter turn
        // away as often as not. The oscillator takes the phase of the last
        // header symbol too, from the whole header at the new frequency.
        const double omega = double(estimate()) / 256 * 2 * M_PI;
        std::complex<double> phase = 0;
        for (int p = 0; p < kSymbols; ++p)
            phase += x[size_t(p)] * std::polar(1.0, -omega * (p - (kSymbols - 1)));
        const double cycles = std::arg(phase) / (2 * M_PI);
        loop.phase = int32_t(std::lround(cycles * 65536)) & 0xFFFF;
        loop.integrator += difference;
        loop.frequency += difference;
        ++corrections;
    }
    if (count >= kMaxHeaders)
        reset();
}
