// The carrier a frame's data shows under the carrier loop, read at the
// frame's end.
//
// A narrow decision-directed loop a few hundredths of 1/256 cycle per symbol
// off the carrier does not pull in: its phase slips through the
// constellation's steps at a steady pace, the decisions' mean error averages
// out, and the integrator creeps for frames while every frame fails (8PSK
// at 8 dB, 0.05 off: a slip every 700 symbols). The symbols as they came
// in, before the oscillator, raised to the power of the constellation's
// steps, lose their data and turn steadily at that power times the carrier,
// whatever the loop did; their spectrum over the frame peaks there.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

class DataCarrierReading {
public:
    // Symbols summed before the search: a fifth of a slot, so that runs
    // begin on one grid across the pilot blocks (two runs long) too.
    static constexpr int kRun = 18;
    static constexpr int kMinimumRuns = 16;
    // Noise alone reaches this over the sum of the runs' powers at one
    // frequency in e^−12 (6·10⁻⁶) of them: one frame in a few hundred, over
    // the frequencies searched, which the Es/N0 floors of the framing keep
    // to frames whose data shows a true peak far higher.
    static constexpr double kPeakOverNoise = 12;

    // A frame of constellation `steps` (4: QPSK, 8: 8PSK; 0: none) begins,
    // the carrier looked for within reach() of `around` (1/256 cycle per
    // symbol).
    void start(int steps, float around);
    // The same constellation from here on, around another frequency,
    // without what was added so far (the mixer moved under the loop).
    void restart(float aroundFrequency) { start(steps, aroundFrequency); }
    // A data symbol at `index` (symbols since any fixed point), as derotated
    // by the oscillator at `oscillatorPhase` (65536 per cycle). Data symbols
    // come in whole runs of kRun, each beginning a multiple of kRun symbols
    // after the first.
    void add(std::complex<float> s, int64_t index, int32_t oscillatorPhase);
    // The carrier (1/256 cycle per symbol), when the frame's data shows one
    // clearly: false with fewer than kMinimumRuns runs, or where no
    // frequency stands kPeakOverNoise above the noise.
    bool carrier(float& frequency) const;
    // The constellation's steps (0: none).
    int constellationSteps() const { return steps; }
    // How far from `around` the carrier is looked for (1/256 cycle per
    // symbol): nine tenths of where the power's spectrum repeats, 1.6 for
    // QPSK, 0.8 for 8PSK.
    double reach() const;

private:
    int steps = 0;
    float around = 0;
    int64_t firstIndex = 0;
    std::complex<double> runSum;
    int64_t runStart = 0;   // symbols after the first
    int inRun = 0;
    std::vector<std::complex<double>> runs;
    std::vector<int32_t> runSlots;   // each run's start, in runs from the first symbol
    int64_t symbols = 0;
};
