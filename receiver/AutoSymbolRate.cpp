#include "receiver/AutoSymbolRate.h"

#include "core/Log.h"
#include "receiver/Receiver.h"

#include <algorithm>
#include <cmath>

AutoSymbolRate::AutoSymbolRate(Receiver& receiver)
    : receiver(receiver), survey(newSurvey()), feed(receiver.chain(), survey)
{
}

AutoSymbolRate::~AutoSymbolRate() = default;

std::shared_ptr<BandSurvey> AutoSymbolRate::newSurvey() const
{
    const double sampleRate = double(receiver.settings().sampleRate);
    const int size = BandSurvey::transformSize(sampleRate);
    const int transforms = std::clamp(int(kSpectrumSeconds * sampleRate / size), 50, BandSurvey::kSpectrumTransforms);
    auto s = std::make_shared<BandSurvey>(sampleRate, kRateSeconds, transforms);
    s->focusOn(receiver.settings().offsetHz / sampleRate);
    return s;
}

void AutoSymbolRate::surveyAgain()
{
    survey = newSurvey();
    feed.replace(survey);
}

bool AutoSymbolRate::step()
{
    if (result || !survey->done())
        return false;
    const std::vector<SurveyedCarrier> found = survey->carriers();
    if (found.empty()) {
        if (empty++ == 0)
            LogLine() << "symbol rate: no carrier at the tuned frequency yet";
        surveyAgain();
        return false;
    }
    const SurveyedCarrier& carrier = found.front();
    if (!carrier.rateMeasured && ++unmeasured < kSurveysForALine) {
        surveyAgain();
        return false;
    }
    apply(carrier);
    return true;
}

void AutoSymbolRate::apply(const SurveyedCarrier& carrier)
{
    result = carrier;
    const ReceiverSettings& s = receiver.settings();
    const int32_t measured = int32_t(std::lround(carrier.symbolRate));
    // A carrier the sample rate carries only at a smaller roll-off than the
    // one set has that roll-off (its BBHEADERs will tell exactly).
    for (float rollOff : {0.25f, 0.20f, 0.15f, 0.10f, 0.05f}) {
        if (measured <= maxSymbolRate(s.sampleRate, 0, s.rollOff) || rollOff >= s.rollOff)
            continue;
        receiver.applyRollOff(rollOff);
    }
    const int32_t rate = std::min(measured, maxSymbolRate(s.sampleRate, 0, s.rollOff));
    receiver.setFront(s.sampleRate, s.decimation, std::max(rate, kMinSymbolRate));
    LogLine() << "symbol rate: " << receiver.settings().symbolRate << " symbols/s "
              << (carrier.rateMeasured ? "measured" : "from the carrier's width") << ", carrier at "
              << std::lround(carrier.offsetHz) << " Hz";
    feed.release();
}
