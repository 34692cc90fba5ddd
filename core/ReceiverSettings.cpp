#include "core/ReceiverSettings.h"

#include "core/ProcessingChain.h"

void applyReceiverSettings(ProcessingChain& chain, const ReceiverSettings& s)
{
    // The mixer multiplies by e^(−j2πpn): a signal at +offset lands on zero.
    chain.basebandWorker().setPhaseIncrement(s.sampleRate > 0 ? s.offsetHz / double(s.sampleRate) : 0.0);
    chain.firWorker().designMatchedFilter(s.sampleRate, s.symbolRate, s.filterTaps, s.rollOff);
    chain.resampleWorker().setTEDGain(float(s.tedGain));
    chain.resampleWorker().setTEDDamping(float(s.tedDamping));
    // The matched filter interpolates by two.
    chain.resampleWorker().setSymbolRate(2.0 * double(s.sampleRate), double(s.symbolRate));

    DemodWorker& demod = chain.demodWorker();
    chain.setDvbS2Mode(s.dvbS2);
    demod.setDVBMode(s.dvbS2);
    demod.setSpectrumInverted(s.spectrumInverted);
    demod.setFineCarrierRecoveryGain(s.carrierKp);
    demod.setFineCarrierRecoveryDamping(s.carrierKi);
    demod.setFineCarrierRecoveryEnabled(s.carrierLoop);
    demod.setEqualizerLength(s.equalizerTaps);
    demod.setEqualizerMode(s.equalizerMode);
}

void applyRollOff(ProcessingChain& chain, const ReceiverSettings& s, float rollOff)
{
    chain.firWorker().designMatchedFilter(s.sampleRate, s.symbolRate, s.filterTaps, rollOff);
}
