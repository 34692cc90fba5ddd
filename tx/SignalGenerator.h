// A complete test signal: source, DVB-S2 or DVB-S coding, pulse shaping and
// channel, as complex float samples of unit signal power.
#pragma once

#include "tx/BbHeader.h"
#include "tx/Channel.h"
#include "tx/ConvEncoder.h"
#include "tx/GseBbFramer.h"
#include "tx/Modcod.h"
#include "tx/PulseShaper.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tx {

enum class Standard { Dvbs2, Dvbs };

struct TxSettings {
    Standard standard = Standard::Dvbs2;
    // DVB-S2
    std::vector<int> modcods{4};
    FrameSize frame = FrameSize::Normal;
    bool pilots = false;
    bool gse = false;
    GseParams gseParams;
    // DVB-S
    DvbsRate dvbsRate = DvbsRate::R12;
    // Source: a TS file, or the built-in source when empty.
    std::string tsPath;
    bool tsLoop = false;
    // Multiple input streams: one TS per ISI, their frames taking turns;
    // empty: a single stream. Each from the TS file of the same place in
    // isiTsPaths (looped with tsLoop), or, when that is empty, from a
    // built-in source named by services (one name per ISI, or one for all
    // with " ISI n" added).
    std::vector<int> isis;
    std::vector<std::string> isiTsPaths;
    std::vector<std::string> services{"TAVIREL TEST"};
    std::vector<std::string> providers{"TAVIREL"};
    double payloadRate = 0.0; // bit/s; <= 0: 80 % of the TS rate
    // Channel
    RollOff rollOff = RollOff::R035;
    int64_t symbolRate = 1000000;
    int64_t sampleRate = 2000000;
    int spanSymbols = 16;
    double frequencyOffset = 0.0;
    double phaseDegrees = 0.0;
    double timingOffset = 0.0; // symbols
    double driftHzPerSecond = 0.0;
    double phaseNoiseDegrees = 0.0;   // rms per symbol
    std::vector<Dropout> dropouts;
    // The receiver's sample clock fast by this much: the symbols arrive
    // that much slower against the nominal sample rate.
    double sampleClockPpm = 0.0;
    bool noise = false;
    double esn0Db = 0.0;
    uint64_t seed = 1;
};

// "" when the settings can be transmitted, else a message naming the problem.
std::string validateSettings(const TxSettings& settings);

// Useful bit rate of the transport stream the settings carry (DVB-S2: data
// field bits per PLFRAME over the frame length; DVB-S: after RS and the
// inner code). 0 for GSE.
double usefulTsRate(const TxSettings& settings);

class SignalGenerator {
public:
    // The settings must have passed validateSettings(); a TS file that cannot be
    // used leaves error() set and the generator unusable.
    explicit SignalGenerator(const TxSettings& settings);
    ~SignalGenerator();

    const std::string& error() const { return problem; }

    // Appends the samples completed by the next PLFRAME (DVB-S2) or the next
    // TS packet (DVB-S), with the channel applied; returns the number of
    // symbols that unit added.
    size_t nextUnit(std::vector<cf32>& samples);

    // Called with the channel symbols of each unit (before pulse shaping) and
    // with each data BBFRAME before BB scrambling (DVB-S2).
    std::function<void(const cf32*, size_t)> onSymbols;
    std::function<void(const uint8_t*, size_t)> onBbframe;

    double samplesPerSymbol() const;
    // The noise's power over the signal's in each sample (0 without noise):
    // the noise is white over the whole sampled band.
    double noiseToSignalPower() const;
    bool lastWasDummy() const;

private:
    struct Chain;
    TxSettings settings;
    std::string problem;
    std::unique_ptr<Chain> chain;
};

} // namespace tx
