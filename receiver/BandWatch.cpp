#include "receiver/BandWatch.h"

BandWatch::BandWatch(ProcessingChain& chain, double sampleRate, std::chrono::milliseconds interval)
    : chain(chain), sampleRate(sampleRate), interval(interval), nextLook(std::chrono::steady_clock::now())
{
}

std::optional<std::vector<SurveyedCarrier>> BandWatch::step()
{
    const auto now = std::chrono::steady_clock::now();
    if (!survey) {
        if (now < nextLook)
            return std::nullopt;
        survey = std::make_shared<BandSurvey>(sampleRate, kRateSeconds);
        feed = std::make_unique<SurveyFeed>(chain, survey, SurveyFeed::Stages::Run);
        return std::nullopt;
    }
    if (!survey->done())
        return std::nullopt;
    // Between looks the band's samples go to the stages alone.
    feed.reset();
    std::vector<SurveyedCarrier> carriers = survey->carriers();
    survey.reset();
    ++finishedLooks;
    nextLook = now + interval;
    return carriers;
}
