// Coarse carrier acquisition for DVB-S2: measures the carrier's frequency on
// the known symbols of each PLHEADER (SOF and the re-encoded PLS code) and,
// before lock, sets the fine loop's integrator to it when the loop is
// plainly elsewhere.
//
// The fine loop alone pulls in a residual carrier of a few tenths of a
// percent of the symbol rate only slowly at low Es/N0: its phase slips while
// the integrator creeps, and meanwhile the header symbols turn so far that
// headers are misread and frames lost. The measurement is taken on the
// symbols before the oscillator, so it gives the carrier itself whatever the
// loop does meanwhile; it is averaged over the headers since the search
// began and acted on only once the difference stands clear of its noise.
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>

class CarrierLoop;

class CarrierAcquisition {
public:
    static constexpr int kSymbols = 90;   // SOF and PLS code
    static constexpr int kLags = 45;      // autocorrelation lags 1 … kLags

    // Stores symbol `position` (0 … 89 from the first SOF symbol) before
    // the oscillator.
    void store(int position, std::complex<float> raw)
    {
        if (position >= 0 && position < kSymbols)
            header[size_t(position)] = raw;
    }
    // At the end of a header whose 64 bits (descrambled, first symbol in bit
    // 63) lie within a few bits of the code word of the PLS code they decode
    // to: adds its measurement and, while `loop` is enabled and the framing
    // not locked, corrects the integrator when the average differs from it
    // by clearly more than the average's noise. Locked or disabled, the
    // measurement restarts and the loop is left alone. `esn0Db` is the
    // signal's Es/N0 where measured (NaN: not known): a header's reading
    // spreads more at low Es/N0, and the correction waits for the average
    // to stand out of that spread. `holding`: headers have followed each
    // other in place, so the loop is near the carrier; a correction then
    // waits for two headers that agree.
    void headerDone(uint64_t descrambled, bool locked, CarrierLoop& loop, float esn0Db = NAN, bool holding = false);
    // The spread (1/256 cycle per symbol) of one header's reading in white
    // noise at this Es/N0 (dB).
    static float headerSpread(float esn0Db);
    // Forgets the headers measured so far.
    void reset();

    // The carrier read from the SOF alone (positions 0 … 25 stored), at any
    // offset up to a quarter of the symbol rate either way: a lag-1
    // differential estimate, which no offset below half the symbol rate
    // aliases, refined on the SOF turned back by it. The SOF need not be
    // real: `coherence` (|Σ| of the SOF turned back, over Σ |s|; 1 when
    // clean, up to 0.7 on the peaks of data) tells, and `spread` is the frequency's
    // standard deviation expected at the signal-to-noise ratio it shows.
    struct SofReading {
        float frequency = 0;   // 1/256 cycle per symbol, as the loop's
        float coherence = 0;
        float unturnedCoherence = 0;   // the same at no offset
        float spread = 0;
        // The carrier's phase at SOF position `position`, 65536 per cycle,
        // were its frequency `frequency` (the loop's units).
        int32_t phaseAt(int position, float atFrequency) const;
        std::complex<float> sum{};   // Σ s·conj(reference), unturned
        std::array<std::complex<float>, 26> symbols{};   // modulation removed
    };
    // With `mirrored`, of the SOF's mirror image: a mirrored spectrum turns
    // π/2-BPSK the other way, which reads as a carrier a quarter of the
    // symbol rate off, and fits well.
    SofReading readSof(bool mirrored = false) const;
    // The carrier read the same way from the whole header (positions
    // 0 … 89 stored) against the code word its bits `descrambled` decode
    // to: known symbols three and a half times as many as the SOF's, a
    // reading some six times finer.
    struct HeaderReading {
        float frequency = 0;   // 1/256 cycle per symbol
        float spread = 0;
    };
    HeaderReading readHeader(uint64_t descrambled) const;
    // The carrier's phase at the header's last symbol (65536 per cycle, as
    // the loop's oscillator), from the whole header turned back at
    // `frequency` (1/256 cycle per symbol).
    int32_t headerPhase(uint64_t descrambled, float frequency) const;
    // The header's 64 hard decisions (first symbol in bit 63, still
    // scrambled) had the oscillator run at `frequency` from the phase the
    // SOF shows at it.
    uint64_t headerBitsAt(float frequency) const;

    // The average so far, in the loop's units (1/256 cycle per symbol), and
    // the number of headers behind it.
    float estimate() const;
    int headers() const { return count; }
    int corrections = 0;   // integrator corrections made

private:
    // The stored header with the modulation of the code word that
    // `descrambled` decodes to taken off.
    std::array<std::complex<double>, kSymbols> knownHeader(uint64_t descrambled) const;
    float estimateFrom(const std::array<std::complex<double>, kLags>& lagSums) const;

    std::array<std::complex<float>, kSymbols> header{};
    std::array<std::complex<double>, kLags> sums{};
    int count = 0;
    float base = 0;   // the loop's frequency the sums are taken against
    // Σ (header's reading − the integrator then) since the last correction.
    float residualSum = 0;
    int residualCount = 0;
};
