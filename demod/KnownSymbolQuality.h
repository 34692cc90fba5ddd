// Data-aided MER and Es/N0 of DVB-S2 symbols, on fields whose symbols the
// receiver knows once it is locked: the PLS code of each PLHEADER (re-encoded
// from what it decoded to, π/2-BPSK), the pilot blocks and dummy frames
// after descrambling. Knowing what was sent, no decision errors bias the
// result at any Es/N0.
#pragma once

#include "demod/SignalQuality.h"

#include <complex>
#include <cstddef>

class KnownSymbolQuality {
public:
    // Averaged over the last 16 blocks of at least 1024 known symbols (with
    // pilots at 1 Msym/s about 0.7 s); valid from 4 blocks on.
    static constexpr size_t kBlockSymbols = 1024;
    static constexpr size_t kBlocks = 16;
    static constexpr size_t kMinBlocks = 4;

    // One field of n known symbols: Σ r·conj(a) and Σ |r|² over the symbols
    // r received at the carrier loop's phase, a the unit-magnitude symbols
    // sent.
    void addField(std::complex<float> correlation, float power, int n);
    // The same from the symbols themselves.
    void addField(const std::complex<float>* received, const std::complex<float>* sent, int n);
    // Forgets everything measured (lock lost, another signal).
    void clear() { window.clear(); }

    SignalQualityReading reading() const;

private:
    struct Sums {
        double inPhase = 0;         // Σ Re(r·conj(a)): amplitude at the loop's phase
        double coherentPower = 0;   // Σ |Σ r·conj(a)|² / n per field
        double power = 0;           // Σ |r|²
        double fields = 0;
        double symbols = 0;
        Sums& operator+=(const Sums& o)
        {
            inPhase += o.inPhase;
            coherentPower += o.coherentPower;
            power += o.power;
            fields += o.fields;
            symbols += o.symbols;
            return *this;
        }
    };
    BlockWindow<Sums, kBlocks> window{double(kBlockSymbols)};
};
