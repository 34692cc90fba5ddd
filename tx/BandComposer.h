// A band of several carriers: each its own transmitter (standard, MODCOD,
// symbol rate, offset, services, outages), mixed at its Es/N0 over one noise
// floor shared by all, as a wideband receiver sees a transponder.
#pragma once

#include "tx/SignalGenerator.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace tx {

struct BandCarrier {
    // The carrier's own transmitter; its sample rate is the band's and its
    // noise is left out (the band has one floor).
    TxSettings settings;
    double esn0Db = 10;   // against the band's floor
};

class BandComposer {
public:
    // `carriers` may be empty: noise alone. Each carrier's settings must have
    // passed validateSettings() at `sampleRate`.
    BandComposer(std::vector<BandCarrier> carriers, int64_t sampleRate, uint64_t seed);
    ~BandComposer();

    // A TS file a carrier could not use, else "".
    const std::string& error() const { return problem; }

    // Appends `n` samples: every carrier at its level over noise of power 1
    // per sample.
    void generate(std::vector<cf32>& out, size_t n);

    // Signal and noise power per sample.
    double totalPower() const { return power; }
    // A carrier's power per sample over the floor's: Es/N0 × Rs / fs.
    static double carrierPower(double esn0Db, double symbolRate, double sampleRate);

private:
    struct Source {
        std::unique_ptr<SignalGenerator> generator;
        std::vector<cf32> pending;   // made, not yet taken
        size_t taken = 0;
        float amplitude = 0;
    };
    std::vector<Source> sources;
    GaussianNoise noise;
    double power = 1;
    std::string problem;
};

} // namespace tx
