#include "demod/DemodWorker.h"

#include "core/Log.h"

#include <chrono>

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
    const size_t n = input->size() / 4;
    const auto* in = reinterpret_cast<const int16_t*>(input->data());
    const ConstellationObject* reference;
    {
        std::lock_guard<std::mutex> lock(paramMutex);
        if (dvbS2) {
            output->resize(8 * n + Demodulator::kFrameBytes);
            auto* symbols = reinterpret_cast<std::complex<float>*>(output->data());
            auto* frame = reinterpret_cast<int8_t*>(output->data() + 8 * n);
            const int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
            const bool delivered = demod.processS2(in, n, symbols, frame, now);
            output->resize(8 * n + (delivered ? Demodulator::kFrameBytes : 0));
        } else {
            output->reserve(8 * n + 8100);
            output->resize(8 * n);
            demod.processS1(in, n, reinterpret_cast<std::complex<float>*>(output->data()));
        }
        if (display != nullptr)
            display->showSymbols(demod.display);
        reference = demod.constellation;
    }
    if (display != nullptr)
        display->setReference(reference);
}

void DemodWorker::setDVBMode(bool on)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    dvbS2 = on;   // the mutex orders it with the next block
    LogLine() << "DemodWorker::setDVBMode(" << int(on) << ")";
}

void DemodWorker::setSpectrumInverted(bool inverted)
{
    LogLine() << "DemodWorker::setSpectrumInverted(" << int(inverted) << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.spectrumInverted = inverted;
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
    demod.loop.setEnabled(on);
}

void DemodWorker::setFineCarrierRecoveryGain(float kp)
{
    LogLine() << "DemodWorker::setFineCarrierRecoveryGain(" << kp << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.loop.kp = kp;
}

void DemodWorker::setFineCarrierRecoveryDamping(float ki)
{
    LogLine() << "DemodWorker::setFineCarrierRecoveryDamping(" << ki << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.loop.ki = ki;
}

void DemodWorker::setEqualizerMode(int mode)
{
    LogLine() << "DemodWorker::setEqualizerMode(" << mode << ")";
    if (mode > 2 || mode < 0)
        return;
    std::lock_guard<std::mutex> lock(paramMutex);
    if (mode != Equalizer::Off)
        demod.equalizer.reset();
    demod.equalizer.mode = mode;
}

void DemodWorker::setEqualizerLength(int taps)
{
    if (taps < 16 || taps > Equalizer::kMaxTaps || taps % 16 != 0)
        return;
    LogLine() << "DemodWorker::setEqualizerLength(" << taps << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.equalizer.length = taps;
}

void DemodWorker::setCMAGainMu(float mu)
{
    LogLine() << "DemodWorker::setCMAGainMu(" << mu << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.equalizer.mu = mu;
}

void DemodWorker::setUpdateCoefficients(bool on)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.equalizer.adapt = on;
}

void DemodWorker::setKeepLock(bool on)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.keepLock = on;
}

void DemodWorker::setDisplaySource(int source)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.displaySource = source;
}

void DemodWorker::requestFrameDump()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    demod.dumpRequested = true;
}

void DemodWorker::setConstellationDisplay(ConstellationDisplay* target)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    display = target;
}

bool DemodWorker::dvbS2Mode()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return dvbS2;
}

uint8_t DemodWorker::plsCode()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.plsCode;
}

uint8_t DemodWorker::deliveredPlsCode()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.deliveredPls;
}

uint8_t DemodWorker::dataPlsCode()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.dataPls;
}

bool DemodWorker::deliveredAfterGap()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.deliveredAfterGap;
}

int DemodWorker::lockCounter()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.lockCounter;
}

bool DemodWorker::locked()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.locked;
}

std::array<ModcodStatistic, 128> DemodWorker::modcodStatistics()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return demod.statistics;
}

std::vector<std::complex<float>> DemodWorker::equalizerTaps()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    std::vector<std::complex<float>> taps;
    for (int i = 0; i < demod.equalizer.length; ++i)
        taps.emplace_back(demod.equalizer.taps[2 * i], demod.equalizer.taps[2 * i + 1]);
    return taps;
}
