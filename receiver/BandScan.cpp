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
