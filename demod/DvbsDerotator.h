// The DVB-S symbol path (EN 300 421): each symbol through the equalizer and
// the fine carrier loop with the QPSK phase detector, then turned by the
// derotation slider, for the Viterbi decoder.
#pragma once

#include "demod/CarrierLoop.h"
#include "demod/Equalizer.h"
#include "demod/QpskDecisionQuality.h"
#include "demod/SymbolTap.h"

#include <complex>

class DvbsDerotator {
public:
    DvbsDerotator(Equalizer& equalizer, CarrierLoop& loop);

    // Manual derotation by −2πv/256.
    void setDerotation(int v);
    // One block: n input symbols (16-bit pairs as the resampler writes them,
    // scaled by `scale`, the second component negated when `inverted`) to n
    // QPSK symbols, all of them shown.
    void process(const int16_t* in, size_t n, float scale, bool inverted, std::complex<float>* symbols,
                 SymbolTap* tap);

    // MER and Es/N0 of the symbols handed on, from their decisions.
    SignalQualityReading signalQuality() const { return quality.reading(); }
    void clearSignalQuality() { quality.clear(); }

private:
    Equalizer& equalizer;
    CarrierLoop& loop;
    std::complex<float> derotation{1.0f, 0.0f};
    QpskDecisionQuality quality;
    const std::array<float, 256>& sineTable = demodSineTable();
};
