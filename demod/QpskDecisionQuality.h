// MER and Es/N0 of DVB-S QPSK symbols, which carry nothing the receiver
// knows: MER from hard decisions, corrected for the bias decisions have at
// low Es/N0, and Es/N0 from the moments of the symbols.
//
// MER. A decision-directed estimate takes the nearest constellation point
// as the symbol sent. Where noise carries a symbol across an axis, the error
// is measured to the wrong point and comes out shorter than it is, so the
// naive ratio reads too high: by 1.4 dB at Es/N0 3 dB, 3.3 dB at 0 dB. For
// QPSK with Gaussian noise the bias has a closed form: each component is
// x = ±μ + n, n of variance s², Es/N0 = μ²/s², and the decision-directed
// amplitude is E|x| (the folded normal's mean), so
//   ρ = (E|x|)² / E[x²] = (√(2/π)·e^(−γ/2) + √γ·erf(√(γ/2)))² / (1 + γ)
// with γ = Es/N0, rising from 2/π (noise alone) to 1. The measured ρ is
// turned back into γ by inverting this curve. The decisions are those the
// Viterbi decoder's input implies, at the carrier loop's phase, so the
// loop's phase error counts as modulation error, as it should.
//
// Es/N0. QPSK has constant modulus: with M2 = E|r|², M4 = E|r|⁴ and
// circular Gaussian noise, M2 = S + N and M4 = S² + 4SN + 2N², so
// S = √(2·M2² − M4) and N = M2 − S (the M2M4 estimator). It needs no
// decisions and no phase, so it measures the noise alone, whatever the
// loop does; the same sums cost nothing more.
//
// Lock. Decisions mean something only while the carrier loop holds the
// constellation on its diagonals. Its fourth power tells: for QPSK at ±45°,
// −r⁴ points along the real axis with mean S² while E|r|⁴ = M4, so the
// coherence C = Σ −Re(r⁴) / Σ |r|⁴ is γ²/(γ² + 4γ + 2) when locked and
// near 0 for a turning constellation or noise alone. Readings whose C is
// less than half of what their Es/N0 predicts are not valid.
#pragma once

#include "demod/SignalQuality.h"

#include <complex>
#include <cstddef>
#include <vector>

// Sums over a run of symbols: Σ(|I| + |Q|), Σ(I² + Q²), Σ −Re(r⁴), Σ |r|⁴.
struct QpskMoments {
    double absolute = 0;
    double power = 0;
    double fourth = 0;
    double fourthPower = 0;
    double symbols = 0;
    QpskMoments& operator+=(const QpskMoments& o)
    {
        absolute += o.absolute;
        power += o.power;
        fourth += o.fourth;
        fourthPower += o.fourthPower;
        symbols += o.symbols;
        return *this;
    }
};

// The sums over n complex floats, in float (a block of the demodulator: a
// few thousand symbols of about unit size) and handed back in double. The
// SSE4.1 version agrees with the plain one within float rounding.
QpskMoments qpsk_moments_ref(const std::complex<float>* symbols, size_t n);
QpskMoments qpsk_moments_sse41(const std::complex<float>* symbols, size_t n);

class QpskDecisionQuality {
public:
    // Averaged over the last 16 blocks of 16384 symbols (0.26 s at
    // 1 Msym/s); valid from 4 blocks on.
    static constexpr size_t kBlockSymbols = 16384;
    static constexpr size_t kBlocks = 16;
    static constexpr size_t kMinBlocks = 4;
    // Below this Es/N0 (dB) decisions carry too little to measure by (ρ
    // grows only with γ² above 2/π), and noise alone could pass for signal.
    static constexpr double kFloorDb = -3.0;

    // The symbols as they go to the Viterbi decoder.
    void add(const std::complex<float>* symbols, size_t n);
    void clear() { window.clear(); }

    SignalQualityReading reading() const;
    // The reading of such sums, however many blocks are behind them.
    static SignalQualityReading readingOf(const QpskMoments& moments);

    // The curve above, and its inverse (γ for a measured ρ; 0 at or below
    // 2/π). Linear ratios.
    static double decisionRatio(double esn0);
    static double esn0FromDecisionRatio(double rho);
    // The naive decision-directed Es/N0 of a measured ρ: ρ / (1 − ρ).
    static double naiveEsn0(double rho) { return rho / (1 - rho); }
    // The fourth-power coherence C of a locked constellation at γ.
    static double lockedCoherence(double esn0) { return esn0 * esn0 / (esn0 * esn0 + 4 * esn0 + 2); }

private:
    BlockWindow<QpskMoments, kBlocks> window{double(kBlockSymbols)};
};

// Es/N0 (dB) of symbols of constant modulus in circular Gaussian noise by
// M2M4, as above: false when the moments leave no signal to speak of.
bool constantModulusEsn0Db(const QpskMoments& moments, double& esn0Db);

// Es/N0 alone of a stream of constant-modulus symbols (π/2-BPSK, QPSK, 8PSK
// — all of a DVB-S2 frame but APSK data) by M2M4: no decisions, no phase,
// no framing, so it reads while nothing holds the signal, but it has no
// ideal points to measure MER against. The same window as the decisions'
// (16 blocks of 16384 symbols, valid from 4 blocks on and from −3 dB up,
// where noise alone does not reach).
class ConstantModulusQuality {
public:
    // A run of symbols whose mean power differs by more than kLevelStep
    // (a fraction) from the run before starts the window afresh.
    static constexpr double kLevelStep = 0.1;
    // Symbols are judged in runs of at least this many, whatever the blocks
    // they come in: the mean power of a few dozen noisy symbols strays by
    // kLevelStep by itself (at 8 dB, one run in four), which a narrow
    // carrier's small blocks would read as a level that never settles.
    static constexpr size_t kLevelSymbols = 1024;
    void add(const std::complex<float>* symbols, size_t n);
    void clear()
    {
        window.clear();
        run.clear();
        lastPower = 0;
        levelSteady = false;
    }
    // The moments so far are dropped, the level kept: what the symbols were
    // before (a carrier cut by the filter before the mixer moved) says
    // nothing of what they are now.
    void restartWindow()
    {
        window.clear();
        run.clear();
    }
    // The last run's level was within kLevelStep of the one before.
    bool steady() const { return levelSteady; }
    // `valid` and `esn0Db`; MER never.
    SignalQualityReading reading() const;
    // The same window read as QPSK decisions, MER included, as
    // QpskDecisionQuality reads it: for a stream whose every symbol is a
    // QPSK point (DVB-S2 QPSK frames: their π/2-BPSK headers, pilots and
    // dummy slots lie on the same diagonals). Valid from the first block:
    // it is asked for only where frames are known to be there (locked, or
    // decoded), and a block's decisions read the MER to a few hundredths
    // of a dB; the coherence still rules out a constellation not held.
    static constexpr size_t kQpskMinBlocks = 1;
    SignalQualityReading qpskReading() const;

private:
    BlockWindow<QpskMoments, QpskDecisionQuality::kBlocks> window{double(QpskDecisionQuality::kBlockSymbols)};
    double lastPower = 0;
    bool levelSteady = false;
    std::vector<std::complex<float>> run;   // a run still short of kLevelSymbols

    void addRun(const std::complex<float>* symbols, size_t n);
};
