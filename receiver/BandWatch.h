// The band looked at again and again while the receiver decodes: every
// `interval` a survey of the spectrum and the rates beside the stages (which
// go on as before), its carriers handed to the owner to follow the band
// with. Driven from the owner thread by step().
#pragma once

#include "receiver/BandSurvey.h"
#include "receiver/SurveyFeed.h"

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class ProcessingChain;

class BandWatch {
public:
    BandWatch(ProcessingChain& chain, double sampleRate, std::chrono::milliseconds interval = kInterval);
    BandWatch(const BandWatch&) = delete;
    BandWatch& operator=(const BandWatch&) = delete;

    // The carriers of a look just finished (once per look), else nothing.
    std::optional<std::vector<SurveyedCarrier>> step();
    int looks() const { return finishedLooks; }

    static constexpr std::chrono::milliseconds kInterval{5000};
    // A look measures rates for at most this long.
    static constexpr double kRateSeconds = 1.5;

private:
    ProcessingChain& chain;
    double sampleRate;
    std::chrono::milliseconds interval;
    std::shared_ptr<BandSurvey> survey;
    std::unique_ptr<SurveyFeed> feed;
    std::chrono::steady_clock::time_point nextLook;
    int finishedLooks = 0;
};
