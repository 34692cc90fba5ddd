#include "receiver/ReceiverSettings.h"

#include "dsp/HalfBandDecimator.h"
#include "receiver/ProcessingChain.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <sstream>
#include <thread>

namespace {

constexpr const char* kRateTexts[] = {"1/2", "2/3", "3/4", "5/6", "7/8"};

} // namespace

const char* standardName(Standard standard)
{
    return standard == Standard::DvbS2 ? "DVB-S2" : "DVB-S";
}

std::optional<CodeRate> codeRateFromText(const std::string& text)
{
    for (int i = 0; i < 5; ++i)
        if (text == kRateTexts[i])
            return CodeRate(i);
    return std::nullopt;
}

const char* codeRateText(CodeRate rate)
{
    return kRateTexts[int(rate)];
}

int depunctureIndex(CodeRate rate)
{
    return int(rate);
}

int autoDecimation(uint64_t sampleRate, int32_t symbolRate)
{
    int exponent = 0;
    while (exponent < Decimator::kMaxExponent &&
           std::ldexp(double(sampleRate), -(exponent + 1)) >= kAutoSamplesPerSymbol * double(std::max(symbolRate, 1)))
        ++exponent;
    return exponent;
}

int decimationFor(const ReceiverSettings& s)
{
    if (s.decimation == kAutoDecimation)
        return autoDecimation(s.sampleRate, s.symbolRate);
    return std::clamp(s.decimation, 0, Decimator::kMaxExponent);
}

double decimatedSampleRate(const ReceiverSettings& s)
{
    return std::ldexp(double(s.sampleRate), -decimationFor(s));
}

int32_t maxSymbolRate(uint64_t sampleRate, int decimation, float rollOff)
{
    const double input = std::ldexp(double(sampleRate), -std::clamp(decimation, 0, Decimator::kMaxExponent));
    // The roll-off as written (0.2, not the float's 0.2000000030).
    const double spread = 1.0 + std::round(std::clamp(double(rollOff), 0.0, 1.0) * 1e6) / 1e6;
    // Below the sample rate also where the roll-off is 0: the resampler's
    // step must stay below one whole turn per input sample.
    const double highest = std::min(std::floor(input / spread), std::ceil(input) - 1.0);
    return int32_t(std::clamp(highest, 0.0, double(INT32_MAX)));
}

std::string limitSymbolRate(ReceiverSettings& s)
{
    const int32_t highest = maxSymbolRate(s.sampleRate, s.decimation, s.rollOff);
    const int32_t given = s.symbolRate;
    std::ostringstream why;
    if (highest < kMinSymbolRate) {
        why << "The sample rate " << s.sampleRate << " Hz is too low for any symbol rate (" << kMinSymbolRate
            << " sym/s need " << uint64_t(std::ceil(kMinSymbolRate * (1.0 + double(s.rollOff)))) << " Hz)";
        if (given == kMinSymbolRate)
            return why.str();
        s.symbolRate = kMinSymbolRate;
    } else if (given < kMinSymbolRate) {
        s.symbolRate = kMinSymbolRate;
        why << "Symbol rate " << given << " sym/s is below the lowest the receiver runs";
    } else if (given > highest) {
        s.symbolRate = highest;
        why << "Symbol rate " << given << " sym/s is above " << highest << " sym/s, the highest the sample rate "
            << s.sampleRate << " Hz";
        if (s.decimation > 0)
            why << " with decimation " << s.decimation;
        why << " carries at roll-off " << double(s.rollOff);
    } else {
        return "";
    }
    why << "; using " << s.symbolRate << " sym/s";
    return why.str();
}

ReceiverSettings settingsFor(ReceiverProfile profile)
{
    ReceiverSettings s;
    if (profile == ReceiverProfile::Classic) {
        s.tedGain = 4;
        s.tedDamping = 14;
        s.carrierLoop = false;
        s.carrierKp = 2.0f;
        s.carrierKi = 0.03125f;
        s.carrierKi8psk = -1.0f;   // one damping for every symbol
        s.equalizer = EqualizerMode::ConstantModulus;
        s.equalizerTaps = 16;
    }
    return s;
}

const char* equalizerModeName(EqualizerMode mode)
{
    switch (mode) {
    case EqualizerMode::ConstantModulus: return "cma";
    case EqualizerMode::DecisionDirected: return "dd";
    case EqualizerMode::Off: break;
    }
    return "off";
}

int ldpcWorkerCount(int configured)
{
    return configured >= 1 ? configured : int(std::thread::hardware_concurrency()) / 2 + 1;
}

namespace {

// At the decimated rate to the hertz (a rate halved seven times may end in
// a fraction): the filter's shape changes by a few parts per million.
void designMatchedFilter(ProcessingChain& chain, const ReceiverSettings& s, float rollOff)
{
    const auto sampleRate = uint64_t(std::llround(decimatedSampleRate(s)));
    chain.firWorker().designMatchedFilter(sampleRate, s.symbolRate, s.filterTaps, rollOff);
}

} // namespace

void applyMatchedFilter(ProcessingChain& chain, const ReceiverSettings& s)
{
    chain.basebandWorker().setDecimation(decimationFor(s));
    designMatchedFilter(chain, s, s.rollOff);
}

void applyTimingLoop(ProcessingChain& chain, const ReceiverSettings& s)
{
    chain.resampleWorker().setTEDGain(float(s.tedGain));
    chain.resampleWorker().setTEDDamping(float(s.tedDamping));
}

void applySymbolRate(ProcessingChain& chain, const ReceiverSettings& s)
{
    // The matched filter interpolates by two.
    chain.resampleWorker().setSymbolRate(2.0 * decimatedSampleRate(s), double(s.symbolRate));
}

void applySymbolTiming(ProcessingChain& chain, const ReceiverSettings& s)
{
    applyTimingLoop(chain, s);
    applySymbolRate(chain, s);
}

void applyCarrierLoop(ProcessingChain& chain, const ReceiverSettings& s)
{
    DemodWorker& demod = chain.demodWorker();
    demod.setFineCarrierRecoveryGain(s.carrierKp);
    demod.setFineCarrierRecoveryDamping(s.carrierKi);
    demod.setFineCarrierRecoveryDamping8psk(s.carrierKi8psk);
    demod.setFineCarrierRecoveryEnabled(s.carrierLoop);
}

void applyEqualizer(ProcessingChain& chain, const ReceiverSettings& s)
{
    chain.demodWorker().setEqualizerLength(s.equalizerTaps);
    chain.demodWorker().setEqualizerMode(s.equalizer);
}

void applyDvbsDecoding(ProcessingChain& chain, const ReceiverSettings& s)
{
    chain.viterbiWorker().setDepunctureIndex(depunctureIndex(s.codeRate));
    chain.dvbsDecoding().setReedSolomonEnabled(s.reedSolomon);
    // Searched until the sync shows, or as given (the derotation on the
    // slider, the skip as presses of the button).
    if (s.alignment.automatic) {
        chain.dvbsDecoding().setAlignmentSearch(true);
    } else {
        chain.dvbsDecoding().setAlignmentSearch(false);
        chain.demodWorker().setDerotation(s.alignment.derotation);
        chain.viterbiWorker().skipSoftValues(std::max(s.alignment.skip, 0));
    }
}

bool parseLdpcDecoder(const std::string& text, LdpcDecoderChoice& choice)
{
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    std::string word = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    for (char& c : word)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (word == "scaled")
        choice = LdpcDecoderChoice::Scaled;
    else if (word == "standard")
        choice = LdpcDecoderChoice::Standard;
    else
        return false;
    return true;
}

void applyLdpcDecoder(ProcessingChain& chain, const ReceiverSettings& s)
{
    chain.setLdpcDecoder(s.ldpcDecoder);
}

void applyReceiverSettings(ProcessingChain& chain, const ReceiverSettings& s)
{
    applyLdpcDecoder(chain, s);
    chain.selectInputStream(s.inputStream);
    // The mixer multiplies by e^(−j2πpn): a signal at +offset lands on zero.
    chain.basebandWorker().setPhaseIncrement(s.sampleRate > 0 ? s.offsetHz / double(s.sampleRate) : 0.0);
    applyMatchedFilter(chain, s);
    applySymbolTiming(chain, s);

    DemodWorker& demod = chain.demodWorker();
    chain.setDvbS2Mode(s.dvbS2());
    demod.setDVBMode(s.dvbS2());
    demod.setSpectrumInverted(s.spectrumInverted);
    demod.setSpectrumAutomatic(s.spectrumAutomatic);
    chain.viterbiWorker().setMirrored(false);   // the sense given, until the search finds otherwise
    applyCarrierLoop(chain, s);
    applyEqualizer(chain, s);
    if (!s.dvbS2())
        applyDvbsDecoding(chain, s);
}

void applyRollOff(ProcessingChain& chain, const ReceiverSettings& s, float rollOff)
{
    designMatchedFilter(chain, s, rollOff);
}
