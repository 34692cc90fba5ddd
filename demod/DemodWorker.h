// The demodulator stage: DVB-S2 framing and soft decisions, or DVB-S symbols.
#pragma once

#include "core/Worker.h"
#include "demod/Demodulator.h"
#include "demod/DisplaySymbols.h"

#include <array>
#include <atomic>
#include <complex>
#include <mutex>
#include <vector>

// Input: one complex 16-bit sample per symbol from the resampler. Output:
// 8 bytes (a complex float) per input symbol; in DVB-S2 mode followed by the
// 64800 soft values of a frame completed during the block.
struct ModcodStatistic {
    // A MODCOD not seen for this long is gone: its count starts again.
    static constexpr int64_t kWindowSeconds = 10;
    int64_t count = 0;
    int64_t lastSeen = 0;   // steady-clock ticks

    // One more frame at `now`: after kWindowSeconds without one, the first
    // of a new count (not the old count continued).
    void seen(int64_t now, int64_t ticksPerSecond)
    {
        if (count > 0 && now - lastSeen >= kWindowSeconds * ticksPerSecond)
            count = 0;
        count += 1;
        lastSeen = now;
    }
};

// The worker's controls as it holds them, read in one go.
struct DemodControls {
    bool dvbS2 = true;
    bool spectrumInverted = true;
    bool spectrumAutomatic = true;
    bool spectrumInvertedInUse = true;   // after the automatic sense
    bool carrierLoop = false;
    float carrierKp = 0;
    float carrierKi = 0;
    float carrierKi8psk = -1;   // below 0: carrierKi
    EqualizerMode equalizerMode = EqualizerMode::Off;
    int equalizerLength = 0;
    float equalizerMu = 0;
    bool updateCoefficients = true;
    bool keepLock = false;
    DisplaySource displaySource = DisplaySource::All;
    bool frameDumpRequested = false;
};

class DemodWorker : public Worker {
public:
    explicit DemodWorker(DoneCallback onDone);
    ~DemodWorker() override;
    size_t objectSize() const override { return sizeof(*this); }
    void process(WorkBuffer* input, WorkBuffer* output) override;
    // A complex float for every whole 16-bit input symbol, then room for
    // the frame the block may complete.
    static constexpr size_t symbolBytes(size_t inputBytes) { return 8 * (inputBytes / 4); }
    // Frames as short as 3330 symbols (32APSK short) end up to n / 3330 + 1
    // times in a block of n symbols.
    static constexpr size_t kShortestFrame = 3330;
    static constexpr size_t frameCapacity(size_t inputBytes) { return inputBytes / 4 / kShortestFrame + 1; }
    // The output buffer as handed in: the symbols and one frame. A block
    // that completes more frames (short frames of the denser
    // constellations) grows it; the rest never pay for zeroing that room.
    static constexpr size_t outputBytes(size_t inputBytes) { return symbolBytes(inputBytes) + Demodulator::kFrameBytes; }
    // The code and continuity of each frame in the last output, in order
    // (on the worker's thread: its completion).
    const std::vector<FrameSynchroniser::DeliveredFrame>& blockFrames() const { return lastFrames; }

    void setDVBMode(bool dvbS2);
    void setSpectrumInverted(bool inverted);
    void setSpectrumAutomatic(bool on);
    void setDerotation(int v);
    void setFineCarrierRecoveryEnabled(bool on);
    void setFineCarrierRecoveryGain(float kp);
    void setFineCarrierRecoveryDamping(float ki);
    // The integral gain on 8PSK data symbols; below 0: the same as the others.
    void setFineCarrierRecoveryDamping8psk(float ki);
    void setEqualizerMode(EqualizerMode mode);
    void setEqualizerLength(int taps);
    void setCMAGainMu(float mu);
    void setUpdateCoefficients(bool on);
    void setKeepLock(bool on);
    void setDisplaySource(DisplaySource source);
    void requestFrameDump();
    // With `on`, each block's symbols of the display source go to
    // displaySymbols(), where the constellation display takes them.
    void setDisplaying(bool on) { displaying.store(on, std::memory_order_relaxed); }
    DisplaySymbols& displaySymbols() { return displayed; }

    bool dvbS2Mode();
    uint8_t plsCode();
    uint8_t deliveredPlsCode();   // the code of the frame in the last output
    bool deliveredAfterGap();     // stream data was lost before that frame
    // A PL header has been read while the frames were locked: until then the
    // codes above are their initial 0 (a dummy frame), not a frame received.
    bool framesReceived();
    int lockCounter();
    bool locked();
    std::array<ModcodStatistic, 128> modcodStatistics();
    std::vector<std::complex<float>> equalizerTaps();
    DemodControls controls();
    // The fine carrier loop's frequency, in cycles per symbol.
    float carrierFrequency();
    // DVB-S2: the carrier the loop follows, in cycles per symbol of the
    // samples as they arrive (the sense in use taken into account); 0 when
    // the loop is off or in DVB-S mode.
    double carrierOffsetCycles();
    // The mixer moved by `cycles` per symbol from the first sample of
    // `block` (the demodulator's input, not yet handed in), which the
    // filters' delay brings `afterSymbols` into it: the loop steps with it
    // (or, with `restart`, starts again from the mixer's frequency).
    void expectCarrierStep(const WorkBuffer* block, double cycles, int afterSymbols, bool restart);
    // The signal quality of the mode running, safe from any thread (a copy,
    // taken between blocks; cheap enough for a 20 ms display refresh):
    // `esn0Db` when `valid`, `merDb` when `merValid` too, both in dB.
    // DVB-S2: MER and Es/N0 from the known symbols of the last 16 blocks of
    // about 1024 (valid from 4 blocks on, while the frames are locked);
    // until then, or once the lock is lost in the noise, Es/N0 alone from
    // the moments of the last 16 blocks of 16384 symbols. DVB-S: from the
    // decisions on the last 16 blocks of 16384 symbols (valid from 4 blocks
    // on, while the carrier loop holds the constellation). Cleared when the
    // mode changes.
    SignalQualityReading signalQuality();
    // The DVB-S2 reading the delivered frames' soft values are scaled by
    // (FrameSynchroniser::frameQuality); thread-safe.
    SignalQualityReading frameQuality();
    // DVB-S2: every symbol since the quality was cleared read as a QPSK
    // point, MER included (FrameSynchroniser::qpskSymbolQuality), for a
    // caller that knows from decoded frames that they are QPSK; DVB-S: as
    // signalQuality(). Thread-safe.
    SignalQualityReading qpskSymbolQuality();
    // Starts both measurements afresh (another signal tuned, say).
    void clearSignalQuality();

    // Where a requested XFECFRAME dump goes, under the working directory.
    static constexpr const char* kDumpFolder = "ldpc_debug";

private:
    void takeEvents();   // logs and counts what the framing reported
    void dumpFrame(const int8_t* frame, size_t size);

    std::mutex paramMutex;
    bool dvbS2 = true;
    Demodulator demod;
    std::atomic<bool> displaying{false};
    DisplaySymbols displayed;
    SymbolTap tap;                                  // the block's symbols for the display
    std::array<ModcodStatistic, 128> statistics{};  // per PLS code, while locked
    bool headerReadLocked = false;                  // framesReceived()
    struct CarrierStep {
        const WorkBuffer* block = nullptr;
        double cycles = 0;
        int afterSymbols = 0;
        bool restart = false;
    };
    CarrierStep carrierStep;                        // under paramMutex
    std::vector<FrameSynchroniser::DeliveredFrame> lastFrames;
    // The frames a block completes, before they join its symbols.
    std::vector<int8_t> blockFrameBytes;
    bool dumpRequested = false;
    int dumpCounter = 0;
};
