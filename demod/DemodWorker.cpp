#include "demod/DemodWorker.h"

#include "core/Log.h"
#include "demod/PlSignalling.h"

#include <cstdio>
#include <filesystem>

#include <chrono>
#include <cstring>

DemodWorker::DemodWorker(DoneCallback onDone)
    : Worker(std::move(onDone))
{
    demodSineTable();
    constQPSK();
    LogLine() << "creating debug file...";
}

DemodWorker::~DemodWorker()
{
    stop();
}

void DemodWorker::process(WorkBuffer* input, WorkBuffer* output)
{
    if (input == nullptr || output == nullptr)
        return;
    const size_t n = input->size() / 4;   // 16-bit I, Q
    const auto* in = reinterpret_cast<const int16_t*>(input->data());
    const ConstellationObject* reference;
    // The symbols for the display are collected only while one is shown.
    const bool showing = displaying.load(std::memory_order_relaxed);
    SymbolTap* shown = showing ? &tap : nullptr;
    {
        std::lock_guard<std::mutex> lock(paramMutex);
        tap.symbols.clear();
        if (showing)
            tap.symbols.reserve(n);
        if (carrierStep.block == input) {
            if (dvbS2)
                demod.shiftCarrier(carrierStep.cycles, carrierStep.afterSymbols, carrierStep.restart);
            carrierStep = CarrierStep();
        }
        if (dvbS2) {
            const size_t symbolsEnd = symbolBytes(input->size());
            const size_t capacity = frameCapacity(input->size());
            if (output->size() < symbolsEnd)
                output->resize(symbolsEnd);
            if (blockFrameBytes.size() < capacity * Demodulator::kFrameBytes)
                blockFrameBytes.resize(capacity * Demodulator::kFrameBytes);
            auto* symbols = reinterpret_cast<std::complex<float>*>(output->data());
            int8_t* frame = blockFrameBytes.data();
            const size_t delivered = demod.processS2(in, n, symbols, frame, shown, capacity);
            // The frames after the symbols (a second one reallocates the
            // buffer, its contents kept).
            output->resize(symbolsEnd + delivered * Demodulator::kFrameBytes);
            if (delivered > 0)
                std::memcpy(output->data() + symbolsEnd, frame, delivered * Demodulator::kFrameBytes);
            lastFrames = demod.blockFrames();
            takeEvents();
            if (delivered > 0 && dumpRequested) {
                dumpRequested = false;
                dumpFrame(frame, plsShortFrame(demod.deliveredPlsCode()) ? 16200 : 64800);
            }
        } else {
            output->resize(symbolBytes(input->size()));
            demod.processS1(in, n, reinterpret_cast<std::complex<float>*>(output->data()), shown);
        }
        reference = demod.constellation();
    }
    if (showing)
        displayed.push(tap.symbols, reference);
}

void DemodWorker::takeEvents()
{
    const int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    for (const FrameEvent& e : demod.events()) {
        switch (e.kind) {
        case FrameEvent::Kind::HeaderRead:
            if (e.locked) {
                headerReadLocked = true;
                statistics[e.plsCode & 127].seen(now, std::chrono::steady_clock::period::den /
                                                          std::chrono::steady_clock::period::num);
            }
            break;
        case FrameEvent::Kind::InvalidModcod:
            // Framing problems go to the error stream.
            ErrorLine() << "ignoring frame, invalid modcode (" << s2ModcodRow(plsModcod(e.plsCode)).name << ")";
            break;
        case FrameEvent::Kind::Locked: LogLine() << "LOCKED :)"; break;
        case FrameEvent::Kind::LockLost: LogLine() << "LOCK has been lost :'("; break;
        case FrameEvent::Kind::SenseChanged:
            LogLine() << "spectrum sense: " << (demod.framing().senseReversed() ? "the other way round" : "as set");
            break;
        }
    }
    demod.events().clear();
}

void DemodWorker::dumpFrame(const int8_t* frame, size_t size)
{
    // In the working directory, made when first needed.
    std::error_code ec;
    std::filesystem::create_directories(kDumpFolder, ec);
    char name[64];
    std::snprintf(name, sizeof name, "%s/xfecframe.%d", kDumpFolder, dumpCounter++);
    FILE* file = std::fopen(name, "wb");
    if (file == nullptr) {
        LogLine() << "XFECFRAME dump: cannot open " << name << " for writing";
        return;
    }
    std::fwrite(frame, 1, size, file);
    std::fclose(file);
}

void DemodWorker::setDVBMode(bool on)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    if (on != dvbS2)
        demod.clearSignalQuality();
    dvbS2 = on;   // the mutex orders it with the next block
    LogLine() << "DemodWorker::setDVBMode(" << int(on) << ")";
}

void DemodWorker::setSpectrumInverted(bool inverted)
{
    LogLine() << "DemodWorker::setSpectrumInverted(" << int(inverted) << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.setSpectrumInverted(inverted);
}

void DemodWorker::setSpectrumAutomatic(bool on)
{
    LogLine() << "DemodWorker::setSpectrumAutomatic(" << int(on) << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.setSpectrumAutomatic(on);
}

void DemodWorker::setDerotation(int v)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.setDerotation(v);
}

void DemodWorker::setFineCarrierRecoveryEnabled(bool on)
{
    LogLine() << "DemodWorker::setFineCarrierRecoveryEnabled(" << int(on) << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.loop().setEnabled(on);
}

void DemodWorker::setFineCarrierRecoveryGain(float kp)
{
    LogLine() << "DemodWorker::setFineCarrierRecoveryGain(" << kp << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.loop().setGains(kp, demod.loop().ki());
}

void DemodWorker::setFineCarrierRecoveryDamping(float ki)
{
    LogLine() << "DemodWorker::setFineCarrierRecoveryDamping(" << ki << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.loop().setGains(demod.loop().kp(), ki);
}

void DemodWorker::setFineCarrierRecoveryDamping8psk(float ki)
{
    LogLine() << "DemodWorker::setFineCarrierRecoveryDamping8psk(" << ki << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.setPsk8IntegralGain(ki);
}

void DemodWorker::setEqualizerMode(EqualizerMode mode)
{
    LogLine() << "DemodWorker::setEqualizerMode(" << int(mode) << ")";
    if (int(mode) > 2 || int(mode) < 0)
        return;
    std::lock_guard<std::mutex> lock(paramMutex);
    if (mode != Equalizer::Off)
        demod.equalizer().reset();
    demod.equalizer().setMode(mode);
}

void DemodWorker::setEqualizerLength(int taps)
{
    if (taps < 16 || taps > Equalizer::kMaxTaps || taps % 16 != 0)
        return;
    LogLine() << "DemodWorker::setEqualizerLength(" << taps << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.equalizer().setLength(taps);
}

void DemodWorker::setCMAGainMu(float mu)
{
    LogLine() << "DemodWorker::setCMAGainMu(" << mu << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.equalizer().setStep(mu);
}

void DemodWorker::setUpdateCoefficients(bool on)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.equalizer().setAdapting(on);
}

void DemodWorker::setKeepLock(bool on)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.setKeepLock(on);
}

void DemodWorker::setDisplaySource(DisplaySource source)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    tap.source = source;
}

void DemodWorker::requestFrameDump()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    dumpRequested = true;
}

bool DemodWorker::dvbS2Mode()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return dvbS2;
}

uint8_t DemodWorker::plsCode()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.plsCode();
}

uint8_t DemodWorker::deliveredPlsCode()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.deliveredPlsCode();
}

bool DemodWorker::framesReceived()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return headerReadLocked;
}

bool DemodWorker::deliveredAfterGap()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.deliveredAfterGap();
}

int DemodWorker::lockCounter()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.lockCounter();
}

bool DemodWorker::locked()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.locked();
}

std::array<ModcodStatistic, 128> DemodWorker::modcodStatistics()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return statistics;
}

DemodControls DemodWorker::controls()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    DemodControls c;
    c.dvbS2 = dvbS2;
    c.spectrumInverted = demod.spectrumInverted();
    c.spectrumAutomatic = demod.spectrumAutomatic();
    c.spectrumInvertedInUse = demod.spectrumInvertedInUse();
    c.carrierLoop = demod.loop().enabled();
    c.carrierKp = demod.loop().kp();
    c.carrierKi = demod.loop().ki();
    c.carrierKi8psk = demod.psk8IntegralGain();
    c.equalizerMode = demod.equalizer().mode();
    c.equalizerLength = demod.equalizer().length();
    c.equalizerMu = demod.equalizer().step();
    c.updateCoefficients = demod.equalizer().adapting();
    c.keepLock = demod.keepsLock();
    c.displaySource = tap.source;
    c.frameDumpRequested = dumpRequested;
    return c;
}

float DemodWorker::carrierFrequency()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.loop().frequency / 256.0f;
}

double DemodWorker::carrierOffsetCycles()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return dvbS2 && demod.loop().enabled() ? demod.framing().carrierCycles() : 0.0;
}

void DemodWorker::expectCarrierStep(const WorkBuffer* block, double cycles, int afterSymbols, bool restart)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    carrierStep = {block, cycles, afterSymbols, restart};
}

SignalQualityReading DemodWorker::signalQuality()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return dvbS2 ? demod.signalQualityS2() : demod.signalQualityS1();
}

SignalQualityReading DemodWorker::qpskSymbolQuality()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return dvbS2 ? demod.qpskSymbolQualityS2() : demod.signalQualityS1();
}

SignalQualityReading DemodWorker::frameQuality()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.frameQualityS2();
}

void DemodWorker::clearSignalQuality()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.clearSignalQuality();
}

std::vector<std::complex<float>> DemodWorker::equalizerTaps()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    std::vector<std::complex<float>> taps;
    const Equalizer& eq = demod.equalizer();
    const float* coefficients = eq.taps();
    for (int i = 0; i < eq.length(); ++i)
        taps.emplace_back(coefficients[2 * i], coefficients[2 * i + 1]);
    return taps;
}
