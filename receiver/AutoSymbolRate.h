// "Symbol rate: auto": the rate of the carrier the receiver is tuned to,
// measured from the band before the receiver decodes. While it measures the
// chain's stages rest (the samples go to the survey alone); once the rate
// is known it is set and the chain receives. A band without a carrier is
// surveyed again until one appears. Driven from the receiver's owner thread.
//
// A recording is held while the owner acts on a survey's answer.
#pragma once

#include "receiver/BandSurvey.h"
#include "receiver/SurveyFeed.h"

#include <memory>
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

private:
    Receiver& receiver;
    std::shared_ptr<BandSurvey> survey;
    SurveyFeed feed;
    std::optional<SurveyedCarrier> result;
    int empty = 0;
    int unmeasured = 0;

    std::shared_ptr<BandSurvey> newSurvey() const;
    void surveyAgain();
    void apply(const SurveyedCarrier& carrier);
};
