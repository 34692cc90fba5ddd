// Symbol-rate demodulation: equalizer, fine carrier loop, and either the
// DVB-S2 physical-layer framing (EN 302 307-1 §5.5) with soft decisions, or
// derotated QPSK symbols for DVB-S.
#pragma once

#include "demod/CarrierAcquisition.h"
#include "demod/CarrierLoop.h"
#include "demod/Constellation.h"
#include "demod/Equalizer.h"

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ModcodStatistic {
    int64_t count = 0;
    int64_t lastSeen = 0;   // steady-clock ticks
};

class Demodulator {
public:
    enum FrameState { SofSearch = 1, HeaderCode = 2, DataSlots = 3, PilotBlock = 4, DummySlots = 5 };
    enum DisplaySource { DisplayAll = 0, DisplayData = 1, DisplayHeader = 2, DisplayPilots = 3 };
    static constexpr int kFrameBytes = 64800;
    static constexpr float kInputScale = 8.630371e-05f;   // 2.828 / 32768
    // Before lock an SOF candidate is taken when |Σ s·conj(reference)| over
    // its 26 symbols reaches this fraction of Σ |s|.
    static constexpr float kSofCoherence = 0.6f;
    static constexpr float kSofMinimumLevel = 0.1f;   // mean |s| of such a candidate

    Demodulator();

    // DVB-S2: n input symbols (16-bit pairs as the resampler writes them) to n
    // complex floats at `symbols`; a frame completed meanwhile goes to
    // `frame` (64800 bytes). Returns true when a frame was written.
    bool processS2(const int16_t* in, size_t n, std::complex<float>* symbols, int8_t* frame, int64_t now);
    // DVB-S: n input symbols to n derotated QPSK symbols.
    void processS1(const int16_t* in, size_t n, std::complex<float>* symbols);

    // Manual derotation by −2πv/256 (DVB-S).
    void setDerotation(int v);

    Equalizer equalizer;
    CarrierLoop loop;
    // Sets the loop's integrator to the carrier measured on the headers
    // while the framing is not locked (DVB-S2).
    CarrierAcquisition acquisition;
    bool spectrumInverted = true;
    bool keepLock = false;
    int displaySource = DisplayAll;
    std::vector<std::complex<float>> display;   // the last block's symbols for the plot
    bool dumpRequested = false;
    int dumpCounter = 0;

    // Framing state.
    int frameState = SofSearch;
    int lockCounter = 0;
    bool locked = false;
    bool sofSearch = true;
    uint8_t plsCode = 0;
    uint8_t deliveredPls = 0;     // the code of the frame last delivered
    uint8_t dataPls = 0;          // the code of the last data frame's header read (MODCODs 1 … 28)
    // True when stream data was lost between the frame last delivered and
    // the one before it: frames missed (not found, unreadable or not
    // demapped), or a frame that did not start where its predecessor ended.
    bool deliveredAfterGap = true;
    const ConstellationObject* constellation = nullptr;
    std::array<ModcodStatistic, 128> statistics{};

private:
    std::complex<float> convert(const int16_t* sample, bool negateSecond) const;
    void runState(std::complex<float>& s, bool peak, bool hit, int8_t* frame, bool& delivered, int64_t now);
    void sofSearchState(std::complex<float>& s, bool peak, bool hit);
    void alignPhaseWithSof();
    void headerState(std::complex<float>& s, int8_t* frame, bool& delivered, int64_t now);
    void dataState(std::complex<float>& s);
    void pilotState(std::complex<float>& s);
    void dummyState(std::complex<float>& s);
    std::complex<float> descramble(std::complex<float> s);
    float dataPhaseError(std::complex<float> s) const;
    void writeSoftValues(std::complex<float> s);
    bool deliverFrame(int8_t* frame, bool& delivered);
    void followFrames(int64_t start);
    void gain();
    void lose();
    void show(int source, std::complex<float> s);

    std::complex<float> previous{};
    std::complex<float> raw{};   // the symbol being handled, before the oscillator
    uint32_t diffSigns = 0;   // sign bits of Im(d), bit 0 the newest product
    std::complex<float> delayRing[26] = {};
    int ringPos = 0;
    float peakHistory[32] = {};
    float peakSum = 0;
    int peakIndex = 0;
    int32_t symbolCounter = 0;
    int32_t lengthIndex = 0;
    // The frame timing before the SOF candidate now being checked, restored
    // when the candidate turns out not to be an SOF.
    int32_t timingCounter = 0;
    int32_t timingLengthIndex = 16;
    int32_t fieldPos = 0;
    int32_t slotInPeriod = 0;
    int32_t slotInFrame = 0;
    int32_t pilotBlocks = 0;
    uint32_t sofRegister = 0;
    std::complex<float> sofPhase{};   // Σ s·conj(reference) over the SOF so far
    std::complex<float> sofRawPhase{};   // the same before the oscillator
    float sofMagnitude = 0;              // Σ |s| before the oscillator
    uint64_t headerRegister = 0;
    uint8_t framePls = 0;         // the code of the frame being received
    int32_t descramblerIndex = 0;
    uint32_t softPos = 0;
    std::vector<int8_t> softBits = std::vector<int8_t>(kFrameBytes, 0);
    std::complex<float> derotation{1.0f, 0.0f};

    // The constellations compared by identity, looked up once.
    const ConstellationObject* const qpsk = &constQPSK();
    const ConstellationObject* const psk8 = &const8PSK();
    const ConstellationObject* const apsk16 = &const16APSK();
    const ConstellationObject* const apsk32 = &const32APSK();
    const std::array<float, 256>& sineTable = demodSineTable();
    int dataSlots = 0;   // slots of the frame being received

    // Continuity of the frames: symbols handled since the start, where the
    // next frame would start if none is lost (−1: not known), whether data
    // was lost since the last delivered frame, and whether the frame being
    // received follows such a loss.
    int64_t symbolIndex = 0;
    int64_t nextFrameStart = -1;
    bool dataLost = false;
    bool frameAfterGap = true;
};

// (int)(x · 128) toward zero, limited to −128 … 127.
int8_t softValue(float x);
