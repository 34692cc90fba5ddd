#include "receiver/Receiver.h"

#include <algorithm>

Receiver::Receiver(const ReceiverSettings& initial)
    : current(initial), processing(std::make_unique<ProcessingChain>()), rollOff(*processing, current)
{
    applyReceiverSettings(*processing, current);
}

void Receiver::createLdpcWorkers(int threads, LdpcDecoderChoice decoder)
{
    current.ldpcThreads = threads;
    current.ldpcDecoder = decoder;
    processing->createLdpcWorkers(ldpcWorkerCount(threads));
    applyLdpcDecoder(*processing, current);
}

ReceiverCounters Receiver::counters() const
{
    const ProcessingChain& c = *processing;
    ReceiverCounters n;
    n.bchCorrectedBits = c.bchCorrectedBits();
    n.bchFailures = c.bchFailures();
    n.packetCrcFailures = c.packetCrcFailures();
    n.packetsFromFailedFrames = c.packetsFromFailedFrames();
    n.sdtCrcFailures = c.sdtCrcFailures();
    n.gseCrcFailures = c.gseCrcFailures();
    n.rsUncorrectable = c.dvbsDecoding().status().uncorrectable;
    n.droppedBlocks = c.droppedBlocks();
    n.clippedSamples = c.clippedSamples();
    return n;
}

void Receiver::setStandard(Standard standard)
{
    if (standard == current.standard)
        return;
    current.standard = standard;
    DemodWorker& demod = processing->demodWorker();
    demod.setSpectrumInverted(current.spectrumInverted);
    processing->setDvbS2Mode(current.dvbS2());
    demod.setDVBMode(current.dvbS2());
    if (!current.dvbS2()) {
        applyDvbsDecoding(*processing, current);
        applyRollOff(0.35f);
    }
}

void Receiver::applyFront()
{
    applyMatchedFilter(*processing, current);
    applySymbolRate(*processing, current);
}

std::string Receiver::setFront(uint64_t sampleRate, int decimation, int32_t symbolRate)
{
    current.sampleRate = sampleRate;
    current.decimation = decimation < 0 ? kAutoDecimation : decimation;
    current.symbolRate = symbolRate;
    const std::string limited = limitSymbolRate(current);
    applyFront();
    return limited;
}

std::string Receiver::setSymbolRate(int32_t symbolRate)
{
    return setFront(current.sampleRate, current.decimation, symbolRate);
}

void Receiver::setMixerOffset(double cycles)
{
    current.offsetHz = cycles * double(current.sampleRate);
    processing->basebandWorker().setPhaseIncrement(cycles);
}

void Receiver::setFilterTaps(int taps)
{
    current.filterTaps = taps;
    applyMatchedFilter(*processing, current);
}

void Receiver::setTimingLoop(int gainShift, int dampingShift)
{
    current.tedGain = gainShift;
    current.tedDamping = dampingShift;
    applyTimingLoop(*processing, current);
}

void Receiver::setSpectrumSense(bool automatic, bool inverted)
{
    current.spectrumAutomatic = automatic;
    current.spectrumInverted = inverted || automatic;   // the search starts from the standard's sense
    processing->demodWorker().setSpectrumInverted(current.spectrumInverted);
    processing->demodWorker().setSpectrumAutomatic(current.spectrumAutomatic);
    processing->viterbiWorker().setMirrored(false);
}

void Receiver::setCarrierLoop(bool on)
{
    current.carrierLoop = on;
    processing->demodWorker().setFineCarrierRecoveryEnabled(on);
}

void Receiver::setCarrierKp(float kp)
{
    current.carrierKp = kp;
    processing->demodWorker().setFineCarrierRecoveryGain(kp);
}

void Receiver::setCarrierKi(float ki)
{
    current.carrierKi = ki;
    processing->demodWorker().setFineCarrierRecoveryDamping(ki);
}

void Receiver::setEqualizer(EqualizerMode mode)
{
    current.equalizer = mode;
    restartEqualizer();
}

void Receiver::restartEqualizer()
{
    processing->demodWorker().setEqualizerMode(current.equalizer);
}

void Receiver::setEqualizerTaps(int taps)
{
    current.equalizerTaps = taps;
    processing->demodWorker().setEqualizerLength(taps);
}

void Receiver::setEqualizerStep(float mu)
{
    processing->demodWorker().setCMAGainMu(mu);
}

void Receiver::setEqualizerAdapting(bool on)
{
    processing->demodWorker().setUpdateCoefficients(on);
}

void Receiver::setKeepLock(bool on)
{
    processing->demodWorker().setKeepLock(on);
}

void Receiver::setLdpcDecoding(bool on)
{
    for (const auto& worker : processing->ldpcWorkers())
        worker->setDecodingEnabled(on);
}

void Receiver::setLdpcDecoder(LdpcDecoderChoice decoder)
{
    current.ldpcDecoder = decoder;
    applyLdpcDecoder(*processing, current);
}

void Receiver::setCodeRate(CodeRate rate)
{
    current.codeRate = rate;
    processing->viterbiWorker().setDepunctureIndex(depunctureIndex(rate));
}

void Receiver::setInputStream(int isi)
{
    current.inputStream = isi;
    processing->selectInputStream(isi);
}

void Receiver::setReedSolomon(bool on)
{
    current.reedSolomon = on;
    processing->dvbsDecoding().setReedSolomonEnabled(on);
}

void Receiver::setDerotation(int derotation)
{
    current.alignment.derotation = derotation;
    processing->demodWorker().setDerotation(derotation);
}

void Receiver::skipSoftValue()
{
    processing->viterbiWorker().requestSymbolSkip();
}

void Receiver::showConstellation(bool on)
{
    processing->demodWorker().setDisplaying(on);
}

const ConstellationObject* Receiver::takeDisplaySymbols(std::vector<std::complex<float>>& symbols)
{
    DisplaySymbols& displayed = processing->demodWorker().displaySymbols();
    displayed.take(symbols);
    return displayed.constellation();
}

void Receiver::setDisplaySource(DisplaySource source)
{
    processing->demodWorker().setDisplaySource(source);
}

void Receiver::requestFrameDump()
{
    processing->demodWorker().requestFrameDump();
}

void Receiver::setTimingTrace(bool on)
{
    processing->resampleWorker().setDebugMode(on);
}

void Receiver::followRollOff()
{
    if (rollOff.applyReported() && rollOffChanged)
        rollOffChanged(current.rollOff);
}

bool Receiver::applyRollOff(float value)
{
    if (!rollOff.apply(value))
        return false;
    if (rollOffChanged)
        rollOffChanged(current.rollOff);
    return true;
}
