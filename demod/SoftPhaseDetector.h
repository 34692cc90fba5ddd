// Likelihood-weighted phase detectors for the carrier loop's data symbols,
// and how steeply each steers at a given Es/N0.
//
// Near the decoding threshold a decision-directed detector is nearly blind:
// many of its decisions are wrong, and its mean output for a phase error of
// a few degrees is a tenth of what it is on a clean signal (8PSK at 6.9 dB:
// 0.13 of it hard, 0.06 weighted). The loop's gains, set for a clean signal,
// then hold the phase only loosely, and it wanders by 10–15° for thousands
// of symbols, enough to fail an 8PSK frame. Weighted by likelihood the
// detector's output carries less noise for its slope, and a gain that
// restores part of the slope the noise took holds the phase again.
#pragma once

#include <complex>

// 8PSK (points at multiples of 45°, symbols of unit energy):
// Σ P(k | s) · Im(s · conj(p_k)), P ∝ exp(c · Re(s · conj(p_k))),
// c = 2 · Es/N0. At a high Es/N0 it is the hard detector Im(s · conj(p̂)).
// On vectors (Psk8WeightedError.h, inline there for the carrier loop).
float psk8SoftPhaseError(std::complex<float> s, float c);
// The same one weight at a time, to the bit: the plain reference.
float psk8SoftPhaseErrorRef(std::complex<float> s, float c);

// The detectors' mean slope at the true phase (output per radian of phase
// error, on symbols of unit energy in complex Gaussian noise at `esn0Db`):
// the QPSK one of CarrierLoop.h at c = √2 · Es/N0, the 8PSK one above at
// c = 2 · Es/N0. Tabulated from −6 to 16 dB, held at the ends.
float qpskSoftDetectorSlope(double esn0Db);
float psk8SoftDetectorSlope(double esn0Db);

// The factor the loop scales a weighted detector's output by at `esn0Db`,
// where the noise has taken its slope below these (per radian): QPSK to
// twice its slope at −2 dB, 8PSK to six times at 6.9 dB. Those held the phase
// best over noise seeds through the whole chain (QPSK 1/4 at −2.05 dB without
// pilots lost 27 of 1344 frames at the bare slope, 12 at twice, 15 at three
// times; 8PSK 2/3 at 6.9 dB without pilots, short frames, lost 7 of 960 with
// the hard detector, 0 weighted at six times, 1 at eight, 3 at eleven). 1
// where the slope is higher, never more than kMaxSoftDetectorGain: far below
// where a code decodes the slope is nothing but the Es/N0 reading's error.
constexpr float kQpskSoftDetectorSlope = 0.104f;
constexpr float kPsk8SoftDetectorSlope = 0.34f;
constexpr float kMaxSoftDetectorGain = 8.0f;
float qpskSoftDetectorGain(double esn0Db);
float psk8SoftDetectorGain(double esn0Db);

// The slope of `detector` at parameter `c` by quadrature over the noise
// about `point` (the detectors are symmetric under the constellation's
// rotations, so one point stands for all).
double meanDetectorSlope(float (*detector)(std::complex<float>, float), float c, std::complex<float> point,
                         double esn0Db);
