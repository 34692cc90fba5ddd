#include "receiver/BandScan.h"

#include "receiver/Receiver.h"

#include <algorithm>
#include <chrono>

BandScan::BandScan(Receiver& receiver)
    : receiver(receiver), survey(std::make_shared<BandSurvey>(double(receiver.settings().sampleRate)))
{
    ProcessingChain& chain = receiver.chain();
    chain.setDecodingInput(false);
    chain.setSurveyObserver([survey = survey, hold = hold](const WorkBuffer& block, uint64_t) {
        survey->add(reinterpret_cast<const int16_t*>(block.data()), block.size() / 4);
        if (!survey->done())
            return;
        std::unique_lock<std::mutex> lock(hold->mutex);
        hold->released.wait_for(lock, std::chrono::milliseconds(kHoldMilliseconds), [&]() { return hold->open; });
    });
}

BandScan::~BandScan()
{
    release();
    visiting.store(nullptr);
}

void BandScan::release()
{
    // Decoding first: the block held meanwhile goes on to the stages.
    receiver.chain().setDecodingInput(true);
    {
        std::lock_guard<std::mutex> lock(hold->mutex);
        hold->open = true;
    }
    hold->released.notify_all();
    // Waits for an observer call under way, which has just been let go.
    receiver.chain().setSurveyObserver({});
}

bool BandScan::step()
{
    if (!identifier && survey->done()) {
        identifier = std::make_unique<CarrierIdentifier>(receiver, survey->carriers());
        visiting.store(identifier.get());
        release();
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
