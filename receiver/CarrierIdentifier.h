// The second look of a band scan: the receiver tuned to each carrier the
// survey found in turn (mixer on its centre, its measured symbol rate),
// DVB-S2 framing tried first, then DVB-S at each code rate, and what decodes
// read: standard, MODCOD or code rate, MER, the services the SDT names.
// Driven from the receiver's owner thread by step(), with the chain's own
// count of input samples as the clock, so that a file read faster than real
// time is given the same signal as a radio.
#pragma once

#include "receiver/BandSurvey.h"
#include "receiver/ReceiverSettings.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class Receiver;
struct FrameTag;

struct CarrierIdentity {
    bool decoded = false;
    Standard standard = Standard::DvbS2;
    std::string modcod;           // DVB-S2: "QPSK 1/2 normal pilots"; DVB-S: the code rate, "3/4"
    std::optional<double> merDb;
    // Where the receiver's carrier loop found it (Hz from the band's
    // centre): closer than the spectrum tells.
    std::optional<double> offsetHz;
    std::optional<float> rollOff;        // DVB-S2: as its BBHEADERs give it
    std::vector<std::string> services;   // as the SDT lists them, when it came in time
};

class CarrierIdentifier {
public:
    // How long each try may take, in seconds of signal or in symbols of
    // the carrier, whichever is longer: a normal DVB-S2 frame is 33 ksym,
    // a second at 33 ksym/s.
    struct Limits {
        double dvbs2Seconds = 0.6;
        double dvbs2Symbols = 110000;   // three normal QPSK frames and a bit
        double dvbsSeconds = 0.3;
        // Per code rate, beyond what the alignment search takes to try
        // every turn and skip: the outer decoder's hunt.
        double dvbsSymbols = 20000;
        double serviceSeconds = 1.5;    // the SDT after the first frame or packet
        // The MER, once the SDT is in: headers alone (no pilots) take some
        // forty frames to give it, and are not waited for; the decisions
        // on QPSK frames' symbols take a block of 16384 and two readings
        // a tenth of a second apart.
        double merSeconds = 0.3;
        double merSymbols = 40000;
    };

    CarrierIdentifier(Receiver& receiver, std::vector<SurveyedCarrier> carriers, Limits limits);
    CarrierIdentifier(Receiver& receiver, std::vector<SurveyedCarrier> carriers)
        : CarrierIdentifier(receiver, std::move(carriers), Limits())
    {
    }

    // Owner thread: moves on as the signal allows; false once every
    // carrier has been visited.
    bool step();
    bool finished() const { return next >= carriers.size(); }
    // Owner thread: no more carriers are visited, and the receiver goes
    // back to where it was before the first.
    void abandon();
    // Owner thread: the carriers visited so far (the first this many
    // identities are final).
    size_t visitedCount() const { return std::min({next, carriers.size(), abandonedAt}); }
    const std::vector<SurveyedCarrier>& surveyed() const { return carriers; }
    std::vector<CarrierIdentity> identities() const;

    // From the chain's observers (any thread).
    void frameReleased(const FrameTag& tag);
    void servicesListed(const std::vector<std::string>& lines);

private:
    enum class Phase { Dvbs2, Dvbs, Services };
    Receiver& receiver;
    std::vector<SurveyedCarrier> carriers;
    Limits limits;
    ReceiverSettings initial;
    size_t next = 0;
    size_t abandonedAt = SIZE_MAX;   // the carrier being visited when abandoned
    std::atomic<Phase> phase{Phase::Dvbs2};
    uint32_t resetsBefore = 0;   // the DVB-S decoder's resets before the try
    int codeRateIndex = 0;
    uint64_t tryStart = 0;       // input sample the current try began at
    uint64_t serviceStart = 0;
    bool merSeen = false;        // a MER read in the services phase, to be confirmed
    double merSeenDb = 0;
    uint64_t merSeenAt = 0;
    mutable std::mutex mutex;   // the fields below
    std::vector<CarrierIdentity> found;
    int decodedPls = -1;         // the first frame of this carrier decoded since the try began
    bool servicesArrived = false;
    std::vector<std::string> serviceLines;
    std::atomic<uint64_t> watchFrom{UINT64_MAX};

    void tune(size_t index);
    void startTry();
    uint64_t samples() const;
    uint64_t limit(double seconds, double symbols) const;
    void done();
    void restoreTuning();
};
