// The first look of a band scan: the band's mean spectrum, the carriers
// standing above its floor, then each one's symbol rate measured from its
// own samples. Fed the device's samples in order from one thread (the
// chain's sample observer); read from any.
#pragma once

#include "dsp/CarrierFinder.h"
#include "dsp/AveragedPower.h"
#include "dsp/SymbolRateMeter.h"

#include <atomic>
#include <complex>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct SurveyedCarrier {
    double offsetHz = 0;        // from the band's centre
    double symbolRate = 0;      // symbols/s: measured, or from the width where no line showed
    bool rateMeasured = false;
    double widthRate = 0;       // symbols/s, from the width at half the top
    double esn0Db = 0;          // the top over the floor
    double lineOverFloor = 0;   // the measuring line's strength (0: none)
};

class BandSurvey {
public:
    // The spectrum from `spectrumTransforms` transforms of the samples;
    // then the rates, from at most `rateSeconds` more.
    explicit BandSurvey(double sampleRate, double rateSeconds = 6.0, int spectrumTransforms = kSpectrumTransforms);
    ~BandSurvey();
    // Only the carrier the receiver is tuned to is wanted: the one whose
    // band holds `centre` (cycles per sample), or else the nearest. Before
    // the first add().
    void focusOn(double centre) { focus = centre; }

    static constexpr int kSpectrumTransforms = 400;
    // The transform's bins are at most this wide: a carrier of 25 ksym/s
    // spans ten of them.
    static constexpr double kWidestBinHz = 2500;
    static int transformSize(double sampleRate);
    // Narrower carriers are not looked for: what stands above the floor
    // over less than 0.7 of this is a spur or a shoulder.
    static constexpr double kNarrowestRate = 25000;
    static CarrierSearch search(double sampleRate);

    void add(const int16_t* iq, size_t count);
    // No more samples will come (the input ended): what was found so far is
    // the result. Call once add() is no longer called.
    void end();
    bool done() const { return finished.load(); }
    // The carriers, in order of frequency (after done()).
    std::vector<SurveyedCarrier> carriers() const;
    // Samples taken so far.
    uint64_t samplesTaken() const { return taken.load(); }
    // The mean spectrum the carriers were found in (bin N/2 at the centre).
    std::vector<float> spectrum() const;

private:
    double sampleRate;
    uint64_t rateSampleLimit;
    int spectrumTransforms;
    std::optional<double> focus;
    bool lineRequired = false;   // the carriers found hold only with a line at their rate
    AveragedPower power;
    std::vector<std::complex<float>> block;
    std::vector<FoundCarrier> found;
    std::vector<std::unique_ptr<SymbolRateMeter>> meters;
    uint64_t rateSamples = 0;
    std::atomic<uint64_t> taken{0};
    std::atomic<bool> finished{false};
    mutable std::mutex resultMutex;
    std::vector<SurveyedCarrier> result;
    std::vector<float> meanSpectrum;

    void adoptCarriers(std::vector<FoundCarrier> carriers);
    void finish();
};
