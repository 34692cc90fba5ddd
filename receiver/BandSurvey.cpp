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

BandSurvey::BandSurvey(double sampleRate, double rateSeconds)
    : sampleRate(sampleRate), rateSampleLimit(uint64_t(std::max(0.0, rateSeconds) * sampleRate)),
      power(transformSize(sampleRate))
{
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
    if (power.transforms() < kSpectrumTransforms) {
        power.add(block.data(), count);
        if (power.transforms() < kSpectrumTransforms)
            return;
        {
            std::lock_guard<std::mutex> lock(resultMutex);
            meanSpectrum = power.mean();
        }
        found = findCarriers(meanSpectrum);
        for (const FoundCarrier& c : found)
            meters.push_back(std::make_unique<SymbolRateMeter>(c.centre, c.symbolRate));
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
        found = findCarriers(meanSpectrum);
        for (const FoundCarrier& c : found)
            meters.push_back(std::make_unique<SymbolRateMeter>(c.centre, c.symbolRate));
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
