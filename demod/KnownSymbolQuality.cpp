#include "demod/KnownSymbolQuality.h"

#include <cmath>

void KnownSymbolQuality::addField(std::complex<float> correlation, float power, int n)
{
    if (n < 2)
        return;
    Sums s;
    s.inPhase = double(correlation.real());
    s.coherentPower = std::norm(std::complex<double>(correlation)) / double(n);
    s.power = double(power);
    s.fields = 1;
    s.symbols = double(n);
    window.add(s);
}

void KnownSymbolQuality::addField(const std::complex<float>* received, const std::complex<float>* sent, int n)
{
    std::complex<float> correlation = 0;
    float power = 0;
    for (int k = 0; k < n; ++k) {
        correlation += received[k] * std::conj(sent[k]);
        power += std::norm(received[k]);
    }
    addField(correlation, power, n);
}

SignalQualityReading KnownSymbolQuality::reading() const
{
    SignalQualityReading r;
    if (window.blocks() < kMinBlocks)
        return r;
    const Sums t = window.total();
    const double n = t.symbols;

    // Received r = A·a + w, w of power σ². MER: the ideal point is a scaled
    // by the mean amplitude in phase with the loop, Â = Σ Re(r·conj(a)) / N,
    // and the error vectors r − Â·a have the mean power Σ|r|²/N − Â². A loop
    // that holds the constellation turned by more than a quarter turn from
    // what was sent (Â ≤ 0) leaves no ideal point: the floor.
    const double amplitude = t.inPhase / n;
    const double power = t.power / n;

    // Es/N0: each field against its own phase and amplitude, so that the
    // loop's slow phase wander is not taken for noise. Per field of n
    // symbols with c = Σ r·conj(a): E|c|²/n = n·A² + σ² and
    // E(Σ|r|² − |c|²/n) = (n − 1)·σ², so over J fields and N symbols
    //   σ² = (Σ|r|² − Σ|c|²/n) / (N − J),   A² = (Σ|c|²/n − J·σ²) / N,
    // both without bias.
    const double noise = (t.power - t.coherentPower) / (n - t.fields);
    const double signal = (t.coherentPower - t.fields * noise) / n;

    r.valid = true;
    r.merValid = true;
    r.merDb = amplitude > 0 ? qualityDb(amplitude * amplitude, power - amplitude * amplitude) : kQualityFloorDb;
    r.esn0Db = qualityDb(signal, noise);
    return r;
}
