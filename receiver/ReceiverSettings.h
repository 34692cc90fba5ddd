// The tuning of a receiver in one place: what the window's controls and the
// headless tools set, and the rules both follow in applying it to a chain's
// workers through their setters.
#pragma once

#include "demod/Equalizer.h"
#include "fec/LdpcDecoderChoice.h"

#include <cstdint>
#include <optional>
#include <string>

class ProcessingChain;

enum class Standard { DvbS2, DvbS };

// DVB-S inner code rates, in the order of the depuncturing table.
enum class CodeRate { R1_2, R2_3, R3_4, R5_6, R7_8 };


// "DVB-S2" or "DVB-S".
const char* standardName(Standard standard);

// "1/2" … "7/8"; nothing for any other text.
std::optional<CodeRate> codeRateFromText(const std::string& text);
const char* codeRateText(CodeRate rate);
// The Viterbi decoder's depuncturing index of a rate.
int depunctureIndex(CodeRate rate);

// How the DVB-S constellation turn and the depuncturing phase are found:
// searched until the transport-stream sync shows (automatic), or as given
// (the derotation slider 0 … 255 and presses of the symbol-skip button).
struct DvbsAlignment {
    bool automatic = true;
    int derotation = 0;
    int skip = 0;
};

constexpr int kAutoDecimation = -1;

struct ReceiverSettings {
    uint64_t sampleRate = 2000000;   // device samples per second
    // The baseband stage halves the sample rate this many times before the
    // matched filter; kAutoDecimation: as decimationFor() chooses.
    int decimation = kAutoDecimation;
    int32_t symbolRate = 1000000;
    Standard standard = Standard::DvbS2;
    double offsetHz = 0;             // moved to zero frequency by the baseband mixer
    bool spectrumInverted = true;    // the window's initial choice ("Inverted"): the standard's sense
    bool spectrumAutomatic = true;   // DVB-S2: the sense found from the SOFs
    float rollOff = 0.35f;
    int32_t filterTaps = 64;         // matched filter
    int tedGain = 6;                 // timing loop gain and damping, as shifts (1/2^n)
    int tedDamping = 15;
    bool carrierLoop = true;
    float carrierKp = 0.5f;          // the window's gain slider at 128: 128 / 256
    // The damping slider at its slow end (2 / 2048). The loop's initial
    // 0.03125 makes it about five times wider: below Es/N0 ≈ 5 dB the phase
    // jitter then costs frames and headers.
    float carrierKi = 2.0f / 2048.0f;
    // On the data symbols of 8PSK frames; below 0: carrierKi. 2/2048 leaves
    // 8PSK 2/3 at 6.9 dB with a MER of 4.7 dB (phase jitter of about 20°)
    // and 7–11 % of its frames lost; 1/4096 keeps the MER at 6.8 dB and every
    // frame after the first, while QPSK keeps 2/2048 (with 1/4096 it loses
    // a frame now and then at 1.5 dB).
    float carrierKi8psk = 1.0f / 4096.0f;
    // Off: satellite channels are flat, and the constant-modulus equalizer's
    // adaptation noise costs frames near threshold (its start also turns the
    // constellation by 0.5 rad until the carrier loop takes it back).
    EqualizerMode equalizer = EqualizerMode::Off;
    int equalizerTaps = 16;
    // DVB-S decoding.
    CodeRate codeRate = CodeRate::R1_2;
    DvbsAlignment alignment;
    bool reedSolomon = true;
    // LDPC decoding workers; below 1: hardware threads / 2 + 1.
    int ldpcThreads = 0;
    int inputStream = -1;            // DVB-S2 multiple input streams: the ISI passed; −1 the first seen
    LdpcDecoderChoice ldpcDecoder = LdpcDecoderChoice::Scaled;

    bool dvbS2() const { return standard == Standard::DvbS2; }
};

// Where a face starts from.
enum class ReceiverProfile {
    // The loop settings measured best at the decoding threshold: the carrier
    // loop on with a narrow integral gain, no equalizer.
    Tuned,
    // The workers' own initial values: the carrier loop off (the framing's
    // loop alone), its sliders at gain 2 and damping 1/32, the timing loop at
    // 1/16 and 1/16384, the constant-modulus equalizer on.
    Classic,
};
ReceiverSettings settingsFor(ReceiverProfile profile);

// "off", "cma" or "dd".
const char* equalizerModeName(EqualizerMode mode);

// The symbol rates the receiver can run. The matched filter interpolates the
// samples by two and the resampler takes two of those per symbol, so the
// decimated samples must carry the signal's whole band, symbol rate ×
// (1 + roll-off): at most (sample rate / 2^decimation) / (1 + roll-off)
// symbols/s, and always below that sample rate itself; at least
// kMinSymbolRate. The automatic decimation runs every rate up to that of
// none.
constexpr int32_t kMinSymbolRate = 1000;
int32_t maxSymbolRate(uint64_t sampleRate, int decimation, float rollOff);

// The automatic decimation: halved while at least kAutoSamplesPerSymbol
// samples per symbol remain (so 4 to 8 reach the matched filter and the
// timing loop at low symbol rates, and the half-band stages pass the
// signal's band untouched), at most Decimator::kMaxExponent times.
constexpr int kAutoSamplesPerSymbol = 4;
int autoDecimation(uint64_t sampleRate, int32_t symbolRate);
// The exponent the settings run with: the one given or the automatic one.
int decimationFor(const ReceiverSettings& settings);
// The sample rate after decimation, as the matched filter and resampler see it.
double decimatedSampleRate(const ReceiverSettings& settings);

// Brings `settings.symbolRate` into the range above for its sample rate,
// decimation and roll-off. Returns what was changed and why, for the log
// ("" when the rate could run as it was).
std::string limitSymbolRate(ReceiverSettings& settings);

// The number of LDPC workers the setting asks for.
int ldpcWorkerCount(int configured);

// "scaled" or "standard" (any case, spaces around ignored); false for other text.
bool parseLdpcDecoder(const std::string& text, LdpcDecoderChoice& choice);

// Everything: the mixer offset, the matched filter, the resampler's step and
// loops, the DVB mode, the demodulator's loops and equalizer and, for DVB-S,
// the code rate, the alignment and the Reed–Solomon switch.
void applyReceiverSettings(ProcessingChain& chain, const ReceiverSettings& settings);

// One control at a time, as the window's slots change them.
void applyLdpcDecoder(ProcessingChain& chain, const ReceiverSettings& settings);
void applyMatchedFilter(ProcessingChain& chain, const ReceiverSettings& settings);
// The timing loop's gains and the resampler's step.
void applySymbolTiming(ProcessingChain& chain, const ReceiverSettings& settings);
void applyTimingLoop(ProcessingChain& chain, const ReceiverSettings& settings);
// The resampler's step for the symbol rate, its phase and loop cleared.
void applySymbolRate(ProcessingChain& chain, const ReceiverSettings& settings);
void applyDvbsDecoding(ProcessingChain& chain, const ReceiverSettings& settings);
void applyCarrierLoop(ProcessingChain& chain, const ReceiverSettings& settings);
void applyEqualizer(ProcessingChain& chain, const ReceiverSettings& settings);

// Redesigns the matched filter for a new roll-off (the BBHEADER's, say).
void applyRollOff(ProcessingChain& chain, const ReceiverSettings& settings, float rollOff);
