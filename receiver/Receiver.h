// The receiver as its faces see it: the processing chain, the settings it
// runs and the rules that tie them together. The window and the headless
// receiver change the tuning only through these operations, so both run
// the same rules; they read the chain (its observers and readings) as before.
#pragma once

#include "receiver/ChainOutputs.h"
#include "receiver/ProcessingChain.h"
#include "receiver/ReceiverCounters.h"
#include "receiver/ReceiverSettings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class Receiver {
public:
    // Creates the chain and applies every setting.
    explicit Receiver(const ReceiverSettings& initial);
    // Before the chain starts: the LDPC workers (below 1: as
    // ldpcWorkerCount() says) and their decoder.
    void createLdpcWorkers(int threads, LdpcDecoderChoice decoder);

    ProcessingChain& chain() { return *processing; }
    const ReceiverSettings& settings() const { return current; }
    ReceiverCounters counters() const;

    // The standard: the demodulator's mode, the chain's branch, DVB-S's
    // decoding settings and its one roll-off.
    void setStandard(Standard standard);
    // The device's sample rate, the decimation (kAutoDecimation: chosen
    // from the rates) and the symbol rate wanted:
    // the symbol rate limited to what the samples carry, the matched filter
    // and the resampler's step made for them. Returns why the symbol rate
    // was changed ("" when it was not).
    std::string setFront(uint64_t sampleRate, int decimation, int32_t symbolRate);
    std::string setSymbolRate(int32_t symbolRate);
    // The mixer: the signal at `cycles` of the sample rate moved to zero.
    void setMixerOffset(double cycles);
    void setFilterTaps(int taps);
    void setTimingLoop(int gainShift, int dampingShift);
    void setSpectrumSense(bool automatic, bool inverted);
    void setCarrierLoop(bool on);
    void setCarrierKp(float kp);
    void setCarrierKi(float ki);
    void setEqualizer(EqualizerMode mode);   // also starts it afresh
    void restartEqualizer();
    void setEqualizerTaps(int taps);
    void setEqualizerStep(float mu);
    void setEqualizerAdapting(bool on);
    void setKeepLock(bool on);
    void setLdpcDecoding(bool on);
    void setLdpcDecoder(LdpcDecoderChoice decoder);
    // DVB-S: the code rate, the Reed–Solomon decoder, and the manual
    // alignment (the derotation, a skip of one soft value).
    void setCodeRate(CodeRate rate);
    // DVB-S2 multiple input streams: the ISI passed on from its next frame
    // (−1: the first one seen).
    void setInputStream(int isi);
    void setReedSolomon(bool on);
    void setDerotation(int derotation);
    void skipSoftValue();

    // The displays and traces: whether the constellation is shown and
    // which symbols it shows, a dump of the next frame, the timing loop's
    // trace. While it is shown, the display takes the symbols demodulated
    // since it last did (into `symbols`) and the constellation they are of
    // (null: none known) on its own thread.
    void showConstellation(bool on);
    const ConstellationObject* takeDisplaySymbols(std::vector<std::complex<float>>& symbols);
    void setDisplaySource(DisplaySource source);
    void requestFrameDump();
    void setTimingTrace(bool on);

    // The roll-off the stream announced (any thread): applied on the owner's
    // thread by followRollOff(), which calls `changed` with the new value.
    void setRollOffListener(std::function<void(float)> changed) { rollOffChanged = std::move(changed); }
    std::function<void(float)> rollOffReporter() { return rollOff.reporter(); }
    void followRollOff();
    // Applies this roll-off now (DVB-S keeps 0.35). True when it changed.
    bool applyRollOff(float value);

private:
    void applyFront();

    ReceiverSettings current;
    std::unique_ptr<ProcessingChain> processing;
    RollOffFollower rollOff;
    std::function<void(float)> rollOffChanged;
};
