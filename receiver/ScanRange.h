// A range wider than the radio's band scanned step by step: the tuner's
// centres half a sample rate apart, each step answering for the carriers
// whose centre lies in the middle half of its band (where a carrier up to
// half the sample rate wide is seen whole), so that every carrier is listed
// once, by the step that sees it best.
#pragma once

#include "receiver/ScannedCarrier.h"

#include <cstdint>
#include <vector>

struct ScanStep {
    double centreHz = 0;   // the tuner's frequency
    double fromHz = 0;     // the carriers this step answers for: centres in [from, to)
    double toHz = 0;
};

// The steps from `startHz` to `stopHz` for a radio at `sampleRate`: at
// least one; the first step's window begins at the start, the last one's
// ends at the stop (and includes it).
std::vector<ScanStep> scanSteps(double startHz, double stopHz, double sampleRate);

// A carrier of the range, with the frequency its offset is from.
struct RangeCarrier {
    ScannedCarrier carrier;
    double centreHz = 0;
    double frequencyHz() const { return centreHz + carrier.offsetHz(); }
};

// Adds the step's carriers that it answers for (and that no step before
// listed), keeping the list in order of frequency.
void mergeStep(std::vector<RangeCarrier>& range, const std::vector<ScannedCarrier>& found, const ScanStep& step);
