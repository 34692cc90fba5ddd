#include "receiver/SurveyFeed.h"

#include "receiver/ProcessingChain.h"

#include <chrono>

SurveyFeed::SurveyFeed(ProcessingChain& chain, std::shared_ptr<BandSurvey> survey, Stages stages)
    : chain(chain), stages(stages)
{
    shared->survey = std::move(survey);
    const bool hold = stages == Stages::Rest;
    if (hold)
        chain.setDecodingInput(false);
    chain.setSurveyObserver([shared = shared, hold](const WorkBuffer& block, uint64_t) {
        std::unique_lock<std::mutex> lock(shared->mutex);
        if (shared->released)
            return;
        const std::shared_ptr<BandSurvey> s = shared->survey;
        lock.unlock();
        s->add(reinterpret_cast<const int16_t*>(block.data()), block.size() / 4);
        if (!hold || !s->done())
            return;
        lock.lock();
        shared->changed.wait_for(lock, std::chrono::milliseconds(kHoldMilliseconds),
                                 [&]() { return shared->released || shared->survey != s; });
    });
}

SurveyFeed::~SurveyFeed()
{
    release();
}

void SurveyFeed::replace(std::shared_ptr<BandSurvey> survey)
{
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->survey = std::move(survey);
    shared->changed.notify_all();
}

void SurveyFeed::release()
{
    // Decoding first: the block held meanwhile goes on to the stages.
    if (stages == Stages::Rest)
        chain.setDecodingInput(true);
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (shared->released)
            return;
        shared->released = true;
    }
    shared->changed.notify_all();
    // Waits for an observer call under way, which has just been let go.
    chain.setSurveyObserver({});
}
