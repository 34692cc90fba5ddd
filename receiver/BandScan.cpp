#include "receiver/BandScan.h"

#include "receiver/Receiver.h"

#include <algorithm>

BandScan::BandScan(Receiver& receiver)
    : receiver(receiver), survey(std::make_shared<BandSurvey>(double(receiver.settings().sampleRate))),
      feed(receiver.chain(), survey)
{
}

BandScan::~BandScan()
{
    feed.release();
    visiting.store(nullptr);
}

bool BandScan::step()
{
    if (!identifier && survey->done()) {
        identifier = std::make_unique<CarrierIdentifier>(receiver, survey->carriers());
        visiting.store(identifier.get());
        feed.release();
    }
    return !identifier || identifier->step();
}

bool BandScan::surveyJustDone()
{
    if (announced || !identifier)
        return false;
    announced = true;
    return true;
}

void BandScan::cancel()
{
    feed.release();
    if (identifier)
        identifier->abandon();
}

void BandScan::end()
{
    if (!survey->done())
        survey->end();
}

std::vector<SurveyedCarrier> BandScan::carriers() const
{
    return identifier ? identifier->surveyed() : survey->carriers();
}

std::vector<CarrierIdentity> BandScan::identities() const
{
    return identifier ? identifier->identities() : std::vector<CarrierIdentity>();
}

uint64_t BandScan::samplesTaken() const
{
    return std::max(receiver.chain().demodulatedSamples(), survey->samplesTaken());
}

void BandScan::frameReleased(const FrameTag& tag)
{
    if (CarrierIdentifier* v = visiting.load())
        v->frameReleased(tag);
}

void BandScan::servicesListed(const std::vector<std::string>& lines)
{
    if (CarrierIdentifier* v = visiting.load())
        v->servicesListed(lines);
}

std::vector<ScannedCarrier> BandScan::results() const
{
    if (!identifier)
        return scannedCarriers(survey->carriers(), {});
    std::vector<CarrierIdentity> told = identifier->identities();
    // The one being visited counts once it has decoded (its services may
    // be yet to come).
    size_t known = identifier->visitedCount();
    if (known < told.size() && told[known].decoded)
        ++known;
    told.resize(known);
    return scannedCarriers(identifier->surveyed(), told);
}

int BandScan::visitingIndex() const
{
    if (!identifier || identifier->finished())
        return -1;
    return int(identifier->visitedCount());
}

void ScanRelay::attach(BandScan* s)
{
    std::lock_guard<std::mutex> lock(mutex);
    scan = s;
}

void ScanRelay::frameReleased(const FrameTag& tag)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (scan != nullptr)
        scan->frameReleased(tag);
}

void ScanRelay::servicesListed(const std::vector<std::string>& lines)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (scan != nullptr)
        scan->servicesListed(lines);
}
