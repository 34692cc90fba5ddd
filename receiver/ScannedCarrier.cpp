#include "receiver/ScannedCarrier.h"

#include "receiver/Receiver.h"

#include <algorithm>
#include <cmath>

double ScannedCarrier::offsetHz() const
{
    if (decodes() && identity->offsetHz)
        return *identity->offsetHz;
    return surveyed.offsetHz;
}

std::vector<ScannedCarrier> scannedCarriers(const std::vector<SurveyedCarrier>& carriers,
                                            const std::vector<CarrierIdentity>& identities)
{
    std::vector<ScannedCarrier> list(carriers.size());
    for (size_t i = 0; i < carriers.size(); ++i) {
        list[i].surveyed = carriers[i];
        if (i < identities.size())
            list[i].identity = identities[i];
    }
    return list;
}

bool sameCarrier(const SurveyedCarrier& a, const SurveyedCarrier& b)
{
    const double wider = std::max(a.symbolRate, b.symbolRate);
    if (wider <= 0)
        return false;
    return std::fabs(a.offsetHz - b.offsetHz) <= 0.25 * wider &&
           std::fabs(a.symbolRate - b.symbolRate) <= 0.05 * wider;
}

bool followBand(std::vector<ScannedCarrier>& list, const std::vector<SurveyedCarrier>& seen, int missesToGo)
{
    bool changed = false;
    std::vector<bool> matched(seen.size(), false);
    for (ScannedCarrier& known : list) {
        bool found = false;
        for (size_t i = 0; i < seen.size() && !found; ++i) {
            if (matched[i] || !sameCarrier(known.surveyed, seen[i]))
                continue;
            matched[i] = found = true;
            known.surveyed.esn0Db = seen[i].esn0Db;
            // A measured rate and centre stand; one from the width gives
            // way to a measurement.
            if (!known.surveyed.rateMeasured && seen[i].rateMeasured)
                known.surveyed = seen[i];
        }
        known.missed = found ? 0 : known.missed + 1;
    }
    const size_t before = list.size();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [missesToGo](const ScannedCarrier& c) { return c.missed >= missesToGo; }),
               list.end());
    changed = list.size() != before;
    for (size_t i = 0; i < seen.size(); ++i) {
        if (matched[i])
            continue;
        ScannedCarrier arrived;
        arrived.surveyed = seen[i];
        list.push_back(arrived);
        changed = true;
    }
    std::stable_sort(list.begin(), list.end(), [](const ScannedCarrier& a, const ScannedCarrier& b) {
        return a.surveyed.offsetHz < b.surveyed.offsetHz;
    });
    return changed;
}

std::string tuneToCarrier(Receiver& receiver, const ScannedCarrier& carrier, double shiftHz)
{
    const ReceiverSettings& s = receiver.settings();
    receiver.setMixerOffset((carrier.offsetHz() + shiftHz) / double(s.sampleRate));
    if (carrier.decodes()) {
        const CarrierIdentity& id = *carrier.identity;
        receiver.setStandard(id.standard);
        if (id.standard == Standard::DvbS) {
            if (const std::optional<CodeRate> rate = codeRateFromText(id.modcod))
                receiver.setCodeRate(*rate);
        } else if (id.rollOff) {
            receiver.applyRollOff(*id.rollOff);
        }
    }
    return receiver.setFront(s.sampleRate, s.decimation, int32_t(std::lround(carrier.surveyed.symbolRate)));
}
