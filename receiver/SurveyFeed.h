// The band's samples to a survey while the chain's stages rest. Once the
// survey has its answer an input that can wait (a recording) is held until
// the owner acts on it (a new survey, or release()), so that none of its
// signal goes by unread; a radio's samples meanwhile are dropped.
#pragma once

#include "receiver/BandSurvey.h"

#include <condition_variable>
#include <memory>
#include <mutex>

class ProcessingChain;

class SurveyFeed {
public:
    // Rest: the survey alone takes the samples, as described above. Run:
    // the stages go on decoding and the survey looks on; nothing is held.
    enum class Stages { Rest, Run };
    SurveyFeed(ProcessingChain& chain, std::shared_ptr<BandSurvey> survey, Stages stages = Stages::Rest);
    ~SurveyFeed();
    SurveyFeed(const SurveyFeed&) = delete;
    SurveyFeed& operator=(const SurveyFeed&) = delete;

    // The samples go to this survey from now on (a held input goes on).
    void replace(std::shared_ptr<BandSurvey> survey);
    // The stages take the samples again, the held input goes on, the
    // survey sees no more. Idempotent.
    void release();

    static constexpr int kHoldMilliseconds = 2000;

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::shared_ptr<BandSurvey> survey;
        bool released = false;
    };
    ProcessingChain& chain;
    Stages stages;
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
};
