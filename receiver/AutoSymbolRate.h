// "Symbol rate: auto": the rate of the carrier the receiver is tuned to,
// measured from the band before the receiver decodes. While it measures the
// chain's stages rest (the samples go to the survey alone); once the rate
// is known it is set and the chain receives. A band without a carrier is
// surveyed again until one appears. Driven from the receiver's owner thread.
//
// An input that can wait (a file) is held once a survey has its answer
// until the owner has acted on it, so that none of its signal goes by
// unreceived; a radio's samples meanwhile are the survey's too.
#pragma once

#include "receiver/BandSurvey.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

class Receiver;

class AutoSymbolRate {
public:
    explicit AutoSymbolRate(Receiver& receiver);
    ~AutoSymbolRate();
    AutoSymbolRate(const AutoSymbolRate&) = delete;
    AutoSymbolRate& operator=(const AutoSymbolRate&) = delete;

    // Owner thread: true on the call that set the rate, false before and
    // after.
    bool step();
    bool settled() const { return result.has_value(); }
    // The carrier measured (its rate is the receiver's now).
    std::optional<SurveyedCarrier> carrier() const { return result; }
    // Surveys that found no carrier.
    int emptySurveys() const { return empty; }

    // At most this long a survey: the spectrum, then the rate.
    static constexpr double kSpectrumSeconds = 0.3;
    static constexpr double kRateSeconds = 1.5;
    // After this many surveys whose line did not show, the rate from the
    // carrier's width is taken.
    static constexpr int kSurveysForALine = 2;
    // How long the input is held at most for the owner to act.
    static constexpr int kHoldMilliseconds = 2000;

private:
    // Shared with the observer on the device's thread.
    struct Look {
        std::mutex mutex;
        std::condition_variable changed;
        std::shared_ptr<BandSurvey> survey;
        bool finished = false;
    };
    Receiver& receiver;
    std::shared_ptr<Look> look = std::make_shared<Look>();
    std::shared_ptr<BandSurvey> survey;
    std::optional<SurveyedCarrier> result;
    int empty = 0;
    int unmeasured = 0;

    std::shared_ptr<BandSurvey> newSurvey() const;
    void surveyAgain();
    void apply(const SurveyedCarrier& carrier);
    void finish();
};
