// Root-raised-cosine matched filter with 2× polyphase interpolation and
// automatic gain, on complex 16-bit samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Bound on Σ|taps| of each phase: 32768 × 65535 < 2^31, so no 32-bit sum of
// products can overflow, whatever the input.
constexpr double kMaxPhaseTapSum = 65535.0;

// A designed filter: the two polyphase halves of an N-tap prototype, scaled
// so its largest tap is full 16-bit range, or less where that would let a
// phase's sum of |taps| exceed kMaxPhaseTapSum.
struct RrcDesign {
    int taps = 0;                 // N, a multiple of 16 up to 256
    std::vector<int16_t> even;    // e[p] = prototype[2p], N/2 values
    std::vector<int16_t> odd;     // o[p] = prototype[2p + 1]
    double coefficientSum = 0;    // S, before truncation of the taps
};

// The N-tap prototype sampled at twice `sampleRate`, for `symbolRate` and
// roll-off β. `taps` must be a positive multiple of 16 up to 256.
RrcDesign designRrc(uint64_t sampleRate, int32_t symbolRate, int taps, float rollOff);

// What the filter kernels work on: the coefficients, the history and the
// gain. The SSE4.1 kernel and its plain reference share it, so a test can run
// both from the same state and compare what they leave.
struct FirAgcState {
    static constexpr int kMaxTaps = 256;
    // The two phases' taps e[p], o[p]; and the same in the order the SSE4.1
    // kernel meets the samples of a window, oldest first: the sample of age
    // a (0 the newest) takes tap (a − 1) mod N/2.
    alignas(16) int16_t even[kMaxTaps / 2] = {};
    alignas(16) int16_t odd[kMaxTaps / 2] = {};
    alignas(16) int16_t evenOldestFirst[kMaxTaps / 2] = {};
    alignas(16) int16_t oddOldestFirst[kMaxTaps / 2] = {};
    // Newest sample at the lowest index of the live window.
    alignas(16) int16_t historyI[kMaxTaps / 2] = {};
    alignas(16) int16_t historyQ[kMaxTaps / 2] = {};
    float gainNorm = 0;     // 1/S (approximate reciprocal)
    float agcGain = 1.0f;   // g
    bool gainReset = false; // the last block's gain went to not-a-number and was reset
    uint64_t historyPos = 0;
    uint64_t tapCount = 0;

    // Installs the coefficients; resets the history position only (history
    // samples and gain carry over).
    void install(const RrcDesign& design);
};

class MatchedFilter {
public:
    static constexpr int kMaxTaps = FirAgcState::kMaxTaps;
    static constexpr float kAgcRate = 3.0517579e-08f;    // A = 1/32768000
    static constexpr float kAgcDecay = 3.5355339e-04f;   // B = √2/4000

    // Installs the coefficients; resets the history position only (history
    // samples and gain carry over).
    void install(const RrcDesign& design) { s.install(design); }
    // Turns the stage off: process() then leaves the output alone.
    void disable() { s.tapCount = 0; }
    bool enabled() const { return s.tapCount != 0; }
    int taps() const { return int(s.tapCount); }
    float gain() const { return s.agcGain; }
    const FirAgcState& state() const { return s; }

    // Filters the largest multiple of 4 of `count` input samples into twice
    // as many output samples (phase 0, then phase 1, per input sample).
    // Returns the number of input samples used. After the block, a level
    // more than kCoarseRange away from the loop's operating point sets the
    // gain there at once (coarseGain).
    size_t process(const int16_t* in, size_t count, int16_t* out);

    // The gain loop moves g by at most B per sample: from a cold start, or
    // after silence reset it, a weak input (a few LSB) needs seconds to
    // reach its gain of thousands. A block whose output RMS per complex
    // sample is off the operating level B/(A·√2) ≈ 8192 by more than this
    // factor either way has the gain scaled to it for the next block; the
    // loop does the rest.
    static constexpr float kCoarseRange = 2.0f;
    // The gain for the next block from this block's output RMS `rms` per
    // complex sample at gain `g`: unchanged within kCoarseRange of the
    // operating level, else scaled to it (negative, the loop's sign); an
    // output rounded to nothing raises |g| 64-fold.
    static float coarseGain(float g, double rms);

private:
    FirAgcState s;
};

// One block of filtering with the gain stage, in groups of four samples:
// `count` must be a multiple of 4 and the filter enabled. The vector kernels
// and the plain reference give identical output and state; the AVX2 one
// only where the processor has AVX2 (process() asks).
void fir_agc_ref(FirAgcState& f, const int16_t* in, size_t count, int16_t* out);
void fir_agc_sse41(FirAgcState& f, const int16_t* in, size_t count, int16_t* out);
void fir_agc_avx2(FirAgcState& f, const int16_t* in, size_t count, int16_t* out);
bool firAgcAvx2Available();

// One step of the gain loop for output power p: g − B + A·p/√p. A gain that
// would grow from a positive value (an input too strong for the loop to turn
// round) is moved down by the same amount instead, which brings it to the
// negative operating point from any input level.
float agcUpdate(float g, float p);

// A float rounded to nearest and saturated to 16 bits as the vector
// conversion does: NaN and values beyond the 32-bit range give −32768.
int16_t roundSaturate16(float v);
