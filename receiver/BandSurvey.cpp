#include "receiver/BandSurvey.h"

#include <algorithm>
#include <cmath>

int BandSurvey::transformSize(double sampleRate)
{
    int n = 1024;
    while (n < 65536 && sampleRate / n > kWidestBinHz)
        n *= 2;
    return n;
}

CarrierSearch BandSurvey::search(double sampleRate)
{
    CarrierSearch search;
    const double binHz = sampleRate / transformSize(sampleRate);
    search.minimumBins = std::max(search.minimumBins, int(std::ceil(0.7 * kNarrowestRate / binHz)));
    return search;
}

BandSurvey::BandSurvey(double sampleRate, double rateSeconds, int spectrumTransforms)
    : sampleRate(sampleRate), rateSampleLimit(uint64_t(std::max(0.0, rateSeconds) * sampleRate)),
      spectrumTransforms(std::max(spectrumTransforms, 1)), power(transformSize(sampleRate))
{
}

void BandSurvey::adoptCarriers(std::vector<FoundCarrier> carriers)
{
    if (focus && carriers.empty()) {
        // Nothing stands above the floor: perhaps a carrier fills the band
        // and the floor shows only at its edges. Such a carrier counts only
        // with its line (a radio's band edges droop below the floor too).
        CarrierSearch filled = search(sampleRate);
        filled.floor = filledBandFloor(meanSpectrum);
        if (filled.floor > 0) {
            carriers = findCarriers(meanSpectrum, filled);
            lineRequired = !carriers.empty();
        }
    }
    if (focus && !carriers.empty()) {
        // Distance from the focus to each band (0 inside it).
        const auto distance = [this](const FoundCarrier& c) {
            return std::max({c.lowerEdge - *focus, *focus - c.upperEdge, 0.0});
        };
        const auto nearest = std::min_element(carriers.begin(), carriers.end(),
            [&](const FoundCarrier& a, const FoundCarrier& b) { return distance(a) < distance(b); });
        carriers = {*nearest};
    }
    found = std::move(carriers);
    for (const FoundCarrier& c : found)
        meters.push_back(std::make_unique<SymbolRateMeter>(c.centre, c.symbolRate));
}

BandSurvey::~BandSurvey() = default;

void BandSurvey::add(const int16_t* iq, size_t count)
{
    if (finished.load())
        return;
    block.resize(count);
    for (size_t k = 0; k < count; ++k)
        block[k] = {float(iq[2 * k]), float(iq[2 * k + 1])};
    taken.fetch_add(count);
    if (power.transforms() < spectrumTransforms) {
        power.add(block.data(), count);
        if (power.transforms() < spectrumTransforms)
            return;
        {
            std::lock_guard<std::mutex> lock(resultMutex);
            meanSpectrum = power.mean();
        }
        adoptCarriers(findCarriers(meanSpectrum, search(sampleRate)));
        if (found.empty()) {
            finish();
            return;
        }
        return;   // the rates from the next samples on
    }
    bool wanting = false;
    for (auto& meter : meters)
        if (meter->samplesWanted() > 0) {
            meter->add(block.data(), count);
            wanting = wanting || meter->samplesWanted() > 0;
        }
    rateSamples += count;
    if (!wanting || rateSamples >= rateSampleLimit)
        finish();
}

void BandSurvey::end()
{
    if (finished.load())
        return;
    if (found.empty() && power.transforms() > 0) {
        // Too short for the transforms wanted: the carriers of those taken.
        std::lock_guard<std::mutex> lock(resultMutex);
        meanSpectrum = power.mean();
    }
    if (found.empty() && power.transforms() > 0) {
        adoptCarriers(findCarriers(meanSpectrum, search(sampleRate)));
    }
    finish();
}

void BandSurvey::finish()
{
    std::vector<SurveyedCarrier> carriers;
    for (size_t i = 0; i < found.size(); ++i) {
        SurveyedCarrier c;
        c.offsetHz = found[i].centre * sampleRate;
        c.widthRate = found[i].symbolRate * sampleRate;
        c.esn0Db = found[i].esn0Db;
        const double measured = meters[i]->measure();
        c.lineOverFloor = meters[i]->lineOverFloor();
        c.rateMeasured = measured > 0;
        if (lineRequired && !c.rateMeasured)
            continue;
        c.symbolRate = c.rateMeasured ? measured * sampleRate : c.widthRate;
        carriers.push_back(c);
    }
    {
        std::lock_guard<std::mutex> lock(resultMutex);
        result = std::move(carriers);
    }
    meters.clear();
    finished.store(true);
}

std::vector<SurveyedCarrier> BandSurvey::carriers() const
{
    std::lock_guard<std::mutex> lock(resultMutex);
    return result;
}

std::vector<float> BandSurvey::spectrum() const
{
    std::lock_guard<std::mutex> lock(resultMutex);
    return meanSpectrum;
}
