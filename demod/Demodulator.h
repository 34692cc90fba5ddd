// Symbol-rate demodulation: equalizer, fine carrier loop, and either the
// DVB-S2 physical-layer framing (EN 302 307-1 §5.5) with soft decisions, or
// derotated QPSK symbols for DVB-S. A plain stage with no threads and no
// public data; the worker owns it and what is shown, counted or dumped.
#pragma once

#include "demod/CarrierLoop.h"
#include "demod/Constellation.h"
#include "demod/DvbsDerotator.h"
#include "demod/Equalizer.h"
#include "demod/FrameSynchroniser.h"
#include "demod/SymbolTap.h"

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

class Demodulator {
public:
    static constexpr int kFrameBytes = 64800;
    static constexpr float kInputScale = 8.630371e-05f;   // 2.828 / 32768

    Demodulator();

    // DVB-S2: n input symbols (16-bit pairs as the resampler writes them) to n
    // complex floats at `symbols`; a frame completed meanwhile goes to
    // `frame` (64800 bytes). Returns true when a frame was written. `tap`
    // (if any) collects the symbols of its source.
    // With `frameCapacity` above 1, that many frames may follow one another
    // at `frame`; returns the number written.
    size_t processS2(const int16_t* in, size_t n, std::complex<float>* symbols, int8_t* frame, SymbolTap* tap = nullptr,
                     size_t frameCapacity = 1);
    // The code and continuity of each frame the last processS2() wrote.
    const std::vector<FrameSynchroniser::DeliveredFrame>& blockFrames() const { return sync.blockFrames(); }
    // DVB-S: n input symbols to n derotated QPSK symbols (all of them to `tap`).
    void processS1(const int16_t* in, size_t n, std::complex<float>* symbols, SymbolTap* tap = nullptr);
    // The framing's events since they were last taken (the caller clears them).
    std::vector<FrameEvent>& events() { return sync.events(); }

    void setSpectrumInverted(bool on) { inverted = on; }
    bool spectrumInverted() const { return inverted; }
    // DVB-S2: the framing turns the sense over when the SOFs show it the
    // other way round (on by default; off, `inverted` is taken as it is).
    void setSpectrumAutomatic(bool on) { sync.setAutomaticSense(on); }
    bool spectrumAutomatic() const { return sync.automaticSense(); }
    // The sense in use: `inverted`, turned over when the framing found it so.
    bool spectrumInvertedInUse() const { return inverted != sync.senseReversed(); }
    // Manual derotation by −2πv/256 (DVB-S).
    void setDerotation(int v) { dvbs.setDerotation(v); }
    void setKeepLock(bool on) { sync.setKeepLock(on); }
    bool keepsLock() const { return sync.keepsLock(); }

    // The loops, which both paths share.
    Equalizer& equalizer() { return eq; }
    const Equalizer& equalizer() const { return eq; }
    CarrierLoop& loop() { return sync.carrierLoop(); }
    void setPsk8IntegralGain(float ki) { sync.setPsk8IntegralGain(ki); }
    float psk8IntegralGain() const { return sync.psk8IntegralGain(); }
    const CarrierLoop& loop() const { return sync.carrierLoop(); }

    // The framing's readouts.
    const FrameSynchroniser& framing() const { return sync; }
    // The mixer ahead moved by `cycles` per symbol, reaching the input
    // `afterSymbols` from the next one handed in (DVB-S2); the loop follows,
    // or with `restart` starts again from there.
    void shiftCarrier(double cycles, int afterSymbols, bool restart) { sync.shiftCarrier(cycles, afterSymbols, restart); }
    int lockCounter() const { return sync.lockCounter(); }
    bool locked() const { return sync.locked(); }
    uint8_t plsCode() const { return sync.plsCode(); }
    uint8_t deliveredPlsCode() const { return sync.deliveredPlsCode(); }
    bool deliveredAfterGap() const { return sync.deliveredAfterGap(); }
    const ConstellationObject* constellation() const { return sync.constellation(); }

    // MER and Es/N0: DVB-S2 on the known symbols while locked, DVB-S from
    // the decisions on the symbols handed on. Each path measures only while
    // it runs; clearing forgets both (another signal, another mode).
    SignalQualityReading signalQualityS2() const { return sync.signalQuality(); }
    SignalQualityReading frameQualityS2() const { return sync.frameQuality(); }
    SignalQualityReading qpskSymbolQualityS2() const { return sync.qpskSymbolQuality(); }
    SignalQualityReading signalQualityS1() const { return dvbs.signalQuality(); }
    void clearSignalQuality()
    {
        sync.clearSignalQuality();
        dvbs.clearSignalQuality();
    }

private:
    Equalizer eq;
    FrameSynchroniser sync;   // owns the carrier loop, which the DVB-S path shares
    DvbsDerotator dvbs{eq, sync.carrierLoop()};
    bool inverted = true;
};
