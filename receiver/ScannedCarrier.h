// A carrier as a band scan leaves it: what the survey measured and, once it
// has been visited, what decoding it told. The list follows the band as
// later surveys see it, and a carrier chosen from it tunes the receiver.
#pragma once

#include "receiver/BandSurvey.h"
#include "receiver/CarrierIdentifier.h"

#include <optional>
#include <vector>

class Receiver;

struct ScannedCarrier {
    SurveyedCarrier surveyed;
    std::optional<CarrierIdentity> identity;   // none: not visited yet
    int missed = 0;                            // surveys in a row that did not see it

    bool visited() const { return identity.has_value(); }
    bool decodes() const { return identity && identity->decoded; }
    // Hz from the band's centre: where the receiver's loop held it when it
    // decoded, else where the spectrum put it.
    double offsetHz() const;
};

// The survey's carriers with what visiting each told (`identities` may be
// shorter: those not reached yet are unvisited).
std::vector<ScannedCarrier> scannedCarriers(const std::vector<SurveyedCarrier>& carriers,
                                            const std::vector<CarrierIdentity>& identities);

// The same carrier in two looks at the band: centres within a quarter of
// the wider one's rate, rates within 5 %.
bool sameCarrier(const SurveyedCarrier& a, const SurveyedCarrier& b);

// A later survey of the band: carriers it sees again keep what visiting
// them told (their level follows), new ones join unvisited, and one that
// `missesToGo` surveys in a row did not see has left. The list stays in
// order of frequency. True when the list changed in any carrier's place.
static constexpr int kMissesToGo = 2;
bool followBand(std::vector<ScannedCarrier>& list, const std::vector<SurveyedCarrier>& seen,
                int missesToGo = kMissesToGo);

// Tunes the receiver to `carrier`: the mixer on its centre (`shiftHz` added:
// the band's centre then less the band's centre now), its symbol rate
// (the receiver's own decimation choice kept) and, where decoding told them,
// its standard, DVB-S code rate and roll-off. What the rate was limited to,
// for the log ("" when it runs as measured).
std::string tuneToCarrier(Receiver& receiver, const ScannedCarrier& carrier, double shiftHz = 0);
