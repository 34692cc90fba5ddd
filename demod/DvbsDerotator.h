// The DVB-S symbol path (EN 300 421): each symbol through the equalizer and
// the fine carrier loop with the QPSK phase detector, then turned by the
// derotation slider, for the Viterbi decoder.
#pragma once

#include "demod/CarrierLoop.h"
#include "demod/Equalizer.h"
#include "demod/SymbolTap.h"

#include <complex>

class DvbsDerotator {
public:
    DvbsDerotator(Equalizer& equalizer, CarrierLoop& loop);

    // Manual derotation by −2πv/256.
    void setDerotation(int v);
    // One symbol z (spectrum inversion applied): the QPSK symbol handed on.
    std::complex<float> push(std::complex<float> z, SymbolTap* tap);

private:
    Equalizer& equalizer;
    CarrierLoop& loop;
    std::complex<float> derotation{1.0f, 0.0f};
    const std::array<float, 256>& sineTable = demodSineTable();
};
