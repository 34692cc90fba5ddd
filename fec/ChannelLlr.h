// Channel log-likelihood ratios for the scaled LDPC decoder.
//
// The demodulator's soft values are the symbol's projections on the decision
// axes, so their size follows the signal level and their meaning follows the
// noise: the same value is a near-certain bit at 10 dB and a guess at 1 dB.
// Here they become log-likelihood ratios at a fixed scale (kUnitsPerLlr per
// natural-log unit), so that the decoder's offset and limits mean the same at
// every level and SNR.
//
// QPSK: LLR = 2·ρ·y/μ for a projection y of mean magnitude μ at Es/N0 = ρ.
// 8PSK: max-log LLRs of the three bits from the symbol position (u, v) that
// the demapper's second and third values are (its first value, |v| − |u|, is
// only a proxy: it overweights that bit by √2).
// 16APSK and 32APSK: max-log LLRs of every bit from the symbol (I, Q) that
// the demapper's first two columns hold, against the MODCOD's points:
// LLR = (nearest distance² among points whose bit is 1 − among those whose
// bit is 0) / N0.
//
// ρ comes from the demodulator's measurement when it has one; the symbol
// amplitude and noise are then fitted from the frame's own mean power. A frame
// without a measurement is judged by its own second and fourth moments.
#pragma once

#include <cmath>
#include <cstdint>

class ChannelLlr {
public:
    static constexpr float kUnitsPerLlr = 4.0f;
    // Es/N0 limits in dB of what the scaling assumes.
    static constexpr float kLowestDb = -10.0f;
    static constexpr float kHighestDb = 30.0f;

    // Converts the n soft values of a frame of `plsCode` (bits 0–4 MODCOD, bit
    // 5 short frame) in place. `qualityDb` is the measured Es/N0 (or MER) in
    // dB, NaN when there is none. Returns false, leaving the values as they
    // were, for the dummy frame or a reserved MODCOD or a size that is not the
    // frame's; the Es/N0 used (dB) goes to `usedDb` when given.
    static bool convert(int8_t* values, int n, uint8_t plsCode, float qualityDb, float* usedDb = nullptr);

    // round(x · kUnitsPerLlr) limited to −127 … 127 (NaN: 0), n values:
    // SSE4.1, and the plain reference it must equal.
    static void quantise(const float* llr, int8_t* out, int n);
    static void quantiseReference(const float* llr, int8_t* out, int n);

    // out = round(in · gain · kUnitsPerLlr) limited to −127 … 127 (in may
    // be out), and the sum of squares: SSE4.1, and their plain references.
    static void scale(const int8_t* in, float gain, int8_t* out, int n);
    static void scaleReference(const int8_t* in, float gain, int8_t* out, int n);
    static int64_t sumOfSquares(const int8_t* values, int n);
    static int64_t sumOfSquaresReference(const int8_t* values, int n);

    // Es/N0 (dB) estimated from the values themselves, NaN when no frame.
    static float estimateQpskDb(const int8_t* values, int n);
    static float estimate8pskDb(const int8_t* u, const int8_t* v, int symbols);
    // APSK: the symbols' distances to the nearest point of the MODCOD's
    // constellation, the amplitude fitted to them.
    static float estimateApskDb(const int8_t* i, const int8_t* q, int symbols, int modcod);

private:
    static void convertApsk(int8_t* values, int n, int modcod, float db);
};
