#include "receiver/CarrierIdentifier.h"

#include "demod/PlSignalling.h"
#include "fec/DvbsAlignmentSearch.h"
#include "fec/FrameTag.h"
#include "fec/ViterbiDecoder.h"
#include "core/Log.h"
#include "receiver/Receiver.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr CodeRate kCodeRates[] = {CodeRate::R1_2, CodeRate::R2_3, CodeRate::R3_4, CodeRate::R5_6, CodeRate::R7_8};
constexpr int kCodeRateCount = int(sizeof(kCodeRates) / sizeof(kCodeRates[0]));
// The outer decoder's sync confidence at which DVB-S counts as received.
constexpr int kDvbsConfidence = 16;

// The symbols the alignment search may take to try every combination at a
// code rate (four turns, each skip of a depuncturing period, both spectrum
// senses, each judged on its patience's bits), and the outer decoder's hunt.
double dvbsSearchSymbols(CodeRate rate, double huntSymbols)
{
    const int period = ViterbiDecoder::periodOfRate(depunctureIndex(rate));
    static constexpr double kBitsPerSymbol[] = {1.0, 4.0 / 3, 1.5, 5.0 / 3, 1.75};
    const double bits = 4.0 * period * 2 * double(DvbsAlignmentSearch::kDefaultPatienceBits);
    return bits / kBitsPerSymbol[int(rate)] + huntSymbols;
}

} // namespace

CarrierIdentifier::CarrierIdentifier(Receiver& receiver, std::vector<SurveyedCarrier> carriers, Limits limits)
    : receiver(receiver), carriers(std::move(carriers)), limits(limits), initial(receiver.settings()),
      found(this->carriers.size())
{
    if (!this->carriers.empty())
        tune(0);
}

uint64_t CarrierIdentifier::samples() const
{
    // The signal the chain has demodulated, not what waits in its queues.
    return receiver.chain().demodulatedSamples();
}

uint64_t CarrierIdentifier::limit(double seconds, double symbols) const
{
    const double rate = double(receiver.settings().sampleRate);
    const double symbolRate = std::max(1.0, double(receiver.settings().symbolRate));
    return uint64_t(std::max(seconds * rate, symbols / symbolRate * rate));
}

void CarrierIdentifier::tune(size_t index)
{
    const SurveyedCarrier& c = carriers[index];
    const double rate = double(receiver.settings().sampleRate);
    receiver.setMixerOffset(c.offsetHz / rate);
    receiver.setFront(receiver.settings().sampleRate, kAutoDecimation, int32_t(std::lround(c.symbolRate)));
    receiver.setStandard(Standard::DvbS2);
    phase = Phase::Dvbs2;
    codeRateIndex = 0;
    LogLine() << "scan: carrier " << index + 1 << " at " << std::lround(c.offsetHz) << " Hz, "
              << receiver.settings().symbolRate << " symbols/s: trying DVB-S2";
    startTry();
}

void CarrierIdentifier::startTry()
{
    resetsBefore = receiver.chain().dvbsDecoding().status().resets;
    receiver.chain().dvbsDecoding().requestSyncReset();
    // Counted from the samples that enter after the change: those in the
    // queues meet it halfway.
    tryStart = receiver.chain().inputSamples();
    std::lock_guard<std::mutex> lock(mutex);
    decodedPls = -1;
    servicesArrived = false;
    serviceLines.clear();
    // Frames that began before the try are the last carrier's or the last
    // setting's.
    watchFrom.store(tryStart);
}

void CarrierIdentifier::frameReleased(const FrameTag& tag)
{
    if (tag.result < 0 || tag.bchFailed || tag.inputSample < 0 || uint64_t(tag.inputSample) < watchFrom.load())
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (decodedPls < 0 && plsModcod(tag.plsCode) != 0)
        decodedPls = tag.plsCode;
}

void CarrierIdentifier::servicesListed(const std::vector<std::string>& lines)
{
    std::lock_guard<std::mutex> lock(mutex);
    // Only a table read while this carrier decodes is its own.
    if (phase != Phase::Services)
        return;
    servicesArrived = true;
    serviceLines = lines;
}

bool CarrierIdentifier::step()
{
    if (finished())
        return false;
    ProcessingChain& chain = receiver.chain();
    const uint64_t now = samples();
    CarrierIdentity& identity = found[next];
    switch (phase.load()) {
    case Phase::Dvbs2: {
        int pls;
        {
            std::lock_guard<std::mutex> lock(mutex);
            pls = decodedPls;
        }
        if (pls >= 0) {
            std::lock_guard<std::mutex> lock(mutex);
            identity.decoded = true;
            identity.standard = Standard::DvbS2;
            identity.modcod = plsCodeText(uint8_t(pls));
            phase = Phase::Services;
            serviceStart = now;
            merSeen = false;
            // The symbols' moments from here on: those of the acquisition
            // before (loops settling, the mixer moving) would read a MER a
            // dB low. Nothing else is lost, as nothing is measured before
            // the framing's lock.
            chain.demodWorker().clearSignalQuality();
        } else if (now >= tryStart + limit(limits.dvbs2Seconds, limits.dvbs2Symbols)) {
            receiver.setStandard(Standard::DvbS);
            receiver.setCodeRate(kCodeRates[0]);
            phase = Phase::Dvbs;
            LogLine() << "scan: carrier " << next + 1 << ": no DVB-S2 frame; trying DVB-S " << codeRateText(kCodeRates[0]);
            startTry();
        }
        break;
    }
    case Phase::Dvbs:
        // The confidence counts once the try's reset has been carried out.
        if (chain.dvbsDecoding().status().resets != resetsBefore &&
            chain.dvbsDecoding().status().confidence >= kDvbsConfidence) {
            std::lock_guard<std::mutex> lock(mutex);
            identity.decoded = true;
            identity.standard = Standard::DvbS;
            identity.modcod = codeRateText(kCodeRates[codeRateIndex]);
            phase = Phase::Services;
            serviceStart = now;
            merSeen = false;
        } else if (now >= tryStart + limit(limits.dvbsSeconds, dvbsSearchSymbols(kCodeRates[codeRateIndex], limits.dvbsSymbols))) {
            if (++codeRateIndex < kCodeRateCount) {
                receiver.setCodeRate(kCodeRates[codeRateIndex]);
                LogLine() << "scan: carrier " << next + 1 << ": trying DVB-S " << codeRateText(kCodeRates[codeRateIndex]);
                startTry();
            } else {
                done();   // neither standard decodes here
            }
        }
        break;
    case Phase::Services: {
        bool arrived;
        {
            std::lock_guard<std::mutex> lock(mutex);
            arrived = servicesArrived;
            if (arrived)
                identity.services = serviceLines;
        }
        // The MER settles over the frames after the first: it counts once
        // two readings a tenth of a second of signal apart agree to 1 dB,
        // and is waited for a little with the services.
        SignalQualityReading quality = chain.demodWorker().signalQuality();
        // Frames decoded as QPSK: before the framing's lock (sixteen
        // headers, more than a visit lasts) lets the demodulator say so,
        // the decisions on all their symbols give the MER.
        if (!quality.merValid && identity.standard == Standard::DvbS2 && identity.modcod.rfind("QPSK", 0) == 0)
            quality = chain.demodWorker().qpskSymbolQuality();
        if (quality.merValid && !identity.merDb) {
            if (merSeen && std::fabs(quality.merDb - merSeenDb) < 1.0 && now >= merSeenAt + limit(0.1, 0)) {
                std::lock_guard<std::mutex> lock(mutex);
                identity.merDb = quality.merDb;
            } else if (!merSeen || std::fabs(quality.merDb - merSeenDb) >= 1.0) {
                merSeen = true;
                merSeenDb = quality.merDb;
                merSeenAt = now;
            }
        }
        const bool merWaited = identity.merDb || now >= serviceStart + limit(limits.merSeconds, limits.merSymbols);
        if ((arrived && merWaited) || now >= serviceStart + limit(limits.serviceSeconds, 0)) {
            const double offset = chain.carrierOffset() * double(receiver.settings().sampleRate);
            {
                std::lock_guard<std::mutex> lock(mutex);
                identity.offsetHz = offset;
                if (identity.standard == Standard::DvbS2)
                    identity.rollOff = receiver.settings().rollOff;
            }
            done();
        }
        break;
    }
    }
    return !finished();
}

void CarrierIdentifier::done()
{
    if (++next < carriers.size()) {
        tune(next);
        return;
    }
    restoreTuning();
}

void CarrierIdentifier::abandon()
{
    if (finished())
        return;
    abandonedAt = next;
    next = carriers.size();
    restoreTuning();
}

// Back to where the receiver was.
void CarrierIdentifier::restoreTuning()
{
    receiver.setStandard(initial.standard);
    receiver.setCodeRate(initial.codeRate);
    receiver.setMixerOffset(initial.offsetHz / double(initial.sampleRate));
    receiver.setFront(initial.sampleRate, initial.decimation, initial.symbolRate);
}

std::vector<CarrierIdentity> CarrierIdentifier::identities() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return found;
}
