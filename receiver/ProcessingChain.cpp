#include "receiver/ProcessingChain.h"

#include "dsp/BandCentre.h"
#include "dsp/HalfBandDecimator.h"
#include "dsp/SampleLevels.h"

#include "core/HandOn.h"
#include "core/Log.h"
#include "demod/PlSignalling.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <thread>

namespace {

// The pool, announced before any worker is built.
BufferAllocator announcedPool()
{
    LogLine() << "Initializing " << BufferAllocator::kSlotCount << " work-queue buffers...";
    return BufferAllocator();
}

} // namespace

ProcessingChain::ProcessingChain()
    : bufferPool(announcedPool()),
      fft([this](WorkBuffer* in, WorkBuffer* out) {
          releaseIfAny(bufferPool, in);
          if (out != nullptr) {
              accumulateSpectrum(*out);
              bufferPool.dealloc(out);
          }
          spectrumPending.fetch_sub(1, std::memory_order_release);
      }),
      baseband([this](WorkBuffer* in, WorkBuffer*) {
          switch (baseband.takeMoveOutcome()) {
          case BasebandWorker::MoveOutcome::Applied: centring.applied(in); break;
          case BasebandWorker::MoveOutcome::Replaced: centring.replaced(); break;
          case BasebandWorker::MoveOutcome::None: break;
          }
          // Filtered in place; the filter writes twice as many samples.
          if (in != nullptr && !forward(fir, in, FIRWorker::outputBytes(in->size())))
              passed(in, nullptr);
      }),
      fir([this](WorkBuffer* in, WorkBuffer* out) {
          passed(in, out);
          releaseIfAny(bufferPool, in);
          if (out != nullptr && !forward(resample, out, ResampleWorker::outputBytes(out->size())))
              passed(out, nullptr);
      }),
      resample([this](WorkBuffer* in, WorkBuffer* out) {
          passed(in, out);
          releaseIfAny(bufferPool, in);
          if (out == nullptr)
              return;
          double moved = 0;
          bool restart = false;
          if (centring.arrives(out, moved, restart))
              demod.expectCarrierStep(out, moved, filterDelaySymbols(), restart);
          // Room for a complex float per symbol and a completed frame.
          if (!forward(demod, out, DemodWorker::outputBytes(out->size())))
              passed(out, nullptr);
      }),
      demod([this](WorkBuffer* in, WorkBuffer* out) { onDemodulated(in, out); }),
      viterbi([this](WorkBuffer* in, WorkBuffer* out) { onViterbiDecoded(in, out); }),
      sequencer([this](WorkBuffer* frame, WorkBuffer* tag) { releaseFrame(frame, tag); }),
      bbFrames(streamHooks()),
      tsBlocks([this](const uint8_t* block, size_t size) {
          if (tsObserver)
              tsObserver(block, size);
          followSdtTrace();
          sdt.scanBlockForSDT(block);
      }),
      gse(
          [this](const uint8_t* pdu, size_t length) {
              if (gseObserver)
                  gseObserver(pdu, length);
          },
          [](unsigned fragmentId) { LogLine() << formatGseOverflow(fragmentId, GseParser::kBufferSize); }),
      sdt([this](const std::vector<std::string>& lines, const std::string& text) {
          if (serviceObserver)
              serviceObserver(lines, text);
      }),
      // The search's turn and skip act in the Viterbi decoder, from its
      // next block, so each combination is judged on its own bits.
      dvbs([this](const uint8_t* packet, size_t length) { tsBlocks.emitTransportStream(packet, length, true); },
           [this](int v) { viterbi.setQuarterTurns(v / 64); }, [this]() { turnDvbsSenseOver(); },
           [this]() { viterbi.requestSymbolSkip(); }),
      callback([this](int16_t i, int16_t q) { onSample(i, q); }),
      blockInput([this](const int16_t* iq, size_t count) { pushSamples(iq, count); }),
      spectrum(FFTWorker::kDefaultSize),
      bandSpectrum(FFTWorker::kDefaultSize, 1)
{
    workerList = {&fft, &baseband, &fir, &resample, &demod, &viterbi};
    rawBuffer = bufferPool.alloc(kRawBlockBytes);
}

BbFrameProcessor::Hooks ProcessingChain::streamHooks()
{
    BbFrameProcessor::Hooks hooks;
    hooks.rollOff = [this](float rollOff) {
        // The filter follows the stream at once, from the next block on; the
        // owner hears of it to keep its settings and display.
        if (dvbS2Mode())
            fir.changeRollOff(rollOff);
        if (rollOffObserver)
            rollOffObserver(rollOff);
    };
    hooks.header = [this](const BbHeaderFields& header, int32_t result) {
        LogLine() << bbHeaderLine(header, result, framePasses.load(std::memory_order_relaxed));
    };
    hooks.transportStream = [this](const uint8_t* bytes, size_t length, bool start) {
        if (start)
            tsBlocks.emitTransportStream(bytes, length, true);
        else
            tsBlocks.continuePacket(bytes, length);
    };
    hooks.discontinuity = [this]() { tsBlocks.resynchronise(); };
    hooks.inputStream = [](int isi) { LogLine() << "Multiple input streams: passing the stream of ISI " << isi; };
    hooks.gse = [this](const uint8_t* field, uint16_t dfl) {
        // The trace, when armed, covers the next 64 frames.
        const bool tracing = gseTrace.next();
        if (tracing != gseTracing) {
            gseTracing = tracing;
            GseParser::Trace trace;
            if (tracing) {
                trace.packet = [](const GsePacketTrace& packet) { LogLine() << formatGsePacket(packet); };
                trace.complete = [](const uint8_t* crc) { LogLine() << formatGseComplete(crc); };
            }
            gse.setTrace(trace);
        }
        gse.parseGSE(field, dfl);
    };
    return hooks;
}

void ProcessingChain::followSdtTrace()
{
    const bool tracing = sdtTrace.load();
    if (tracing == sdtTracing)
        return;
    sdtTracing = tracing;
    if (tracing)
        sdt.setTrace([](const SdtTrace& event) {
            for (const std::string& line : formatSdtTrace(event))
                LogLine() << line;
        });
    else
        sdt.setTrace(nullptr);
}

ProcessingChain::~ProcessingChain()
{
    if (running)
        stop();
    ldpc.clear();
    releaseIfAny(bufferPool, rawBuffer);
    rawBuffer = nullptr;
}

void ProcessingChain::createLdpcWorkers(int count)
{
    if (!ldpc.empty())
        return;
    if (count < 1)
        count = int(std::thread::hardware_concurrency()) / 2 + 1;
    std::vector<Worker*> rotation;
    for (int i = 0; i < count; ++i) {
        ldpc.push_back(std::make_unique<LDPCWorker>(
            [this](WorkBuffer* frame, WorkBuffer* tag) { sequencer.finished(frame, tag); }));
        ldpc.back()->setDecoderChoice(ldpcChoice);
        workerList.push_back(ldpc.back().get());
        rotation.push_back(ldpc.back().get());
    }
    sequencer.setWorkers(rotation);
}

void ProcessingChain::setLdpcDecoder(LdpcDecoderChoice choice)
{
    ldpcChoice = choice;
    for (const auto& worker : ldpc)
        worker->setDecoderChoice(choice);
}

void ProcessingChain::start(const std::function<void(Worker&)>& beforeStart)
{
    LogLine() << "Starting Worker Threads... ";
    for (Worker* worker : workerList) {
        if (beforeStart)
            beforeStart(*worker);
        worker->start();
    }
    running = true;
}

void ProcessingChain::stop(const std::function<void(Worker&)>& beforeStop)
{
    LogLine() << "Stopping worker threads... ";
    for (Worker* worker : workerList) {
        if (beforeStop)
            beforeStop(*worker);
        worker->stop();
    }
    LogLine() << "All worker threads have been stopped.";
    running = false;
}

bool ProcessingChain::waitIdle(std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (bufferPool.allocatedCount() > 1) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void ProcessingChain::endOfStream()
{
    bbFrames.flush();
}

void ProcessingChain::flushPartialBlock()
{
    if (rawBuffer == nullptr || rawCount == 0)
        return;
    rawBuffer->resize(size_t(rawCount) * 4);
    showBlock(samplesTaken.load(std::memory_order_relaxed));
    rawBuffer->resize(kRawBlockBytes);
    std::memset(rawBuffer->data() + size_t(rawCount) * 4, 0, kRawBlockBytes - size_t(rawCount) * 4);
    const int32_t received = rawCount;
    rawCount = 0;
    onBlockFull(false);
    // The silence after them is no input.
    samplesTaken -= uint64_t(kBlockSamples - received);
    rawBuffer = bufferPool.alloc(kRawBlockBytes);
}

std::chrono::steady_clock::duration ProcessingChain::inputStalledFor() const
{
    if (!readyForInput())
        return std::chrono::steady_clock::duration::zero();
    return reception.inputStalledFor(std::chrono::steady_clock::now());
}

std::string ProcessingChain::receptionProblem() const
{
    const double stalled = std::chrono::duration<double>(inputStalledFor()).count();
    if (stalled > 0)
        return "no input for " + std::to_string(std::max(1, int(stalled))) + " s";
    if (receiving())
        return std::string();
    if (dvbS2Mode() && reception.framesArriving())
        return "frames failing";
    return "no signal";
}

void ProcessingChain::turnDvbsSenseOver()
{
    // Only while the sense is left to the receiver.
    if (demod.controls().spectrumAutomatic)
        viterbi.setMirrored(!viterbi.mirrored());
}

void ProcessingChain::passed(const WorkBuffer* from, const WorkBuffer* to)
{
    centring.passed(from, to);
    origins.passed(from, to);
}

bool ProcessingChain::forward(Worker& next, WorkBuffer* data, size_t outputSize)
{
    if (data == nullptr)
        return false;
    if (handOn(bufferPool, next, data, outputSize))
        return true;
    dropped.fetch_add(1, std::memory_order_relaxed);
    return false;
}

int ProcessingChain::filterDelaySymbols()
{
    // Half the matched filter's length and the interpolator's 4 samples, at
    // twice the device rate, and the resampler's one symbol of history.
    // Measured to the symbol by moving the mixer under a locked loop, at 2
    // to 10 samples per symbol and 32 to 256 taps: one symbol off either
    // way turns the frames of a move by a fifth of the symbol rate into
    // failures.
    // The half-band stages in front add theirs, at the filter's input rate.
    const int exponent = baseband.decimation();
    const double decimatorDelay = 2.0 * std::ldexp(double(Decimator::delay(exponent)), -exponent);
    const double symbolsPerSample = double(resample.nominalStep()) / 4294967296.0 / 2;
    return int(std::lround(((fir.tapCount() - 1) / 2.0 + 4 + decimatorDelay) * symbolsPerSample + 1));
}

double ProcessingChain::symbolsPerInputSample()
{
    return std::ldexp(double(resample.nominalStep()) / 4294967296.0, -baseband.decimation());
}

double ProcessingChain::trackedSymbolsPerInputSample()
{
    return std::ldexp(double(resample.trackedStep()) / 4294967296.0, -baseband.decimation());
}

void ProcessingChain::followCarrier()
{
    if (!dvbS2Mode() || !centring.enabled() || !centring.idle())
        return;
    const double move = CarrierCentring::moveFor(demod.carrierOffsetCycles(), demod.locked());
    if (move != 0)
        moveCarrier(move);
}

bool ProcessingChain::moveCarrier(double cyclesPerSymbol, bool restartLoop)
{
    if (!centring.idle())
        return false;
    centring.requested(cyclesPerSymbol, restartLoop);
    baseband.moveBy(cyclesPerSymbol * symbolsPerInputSample());
    return true;
}

double ProcessingChain::carrierOffset()
{
    return baseband.getPhaseIncrement() + demod.carrierOffsetCycles() * symbolsPerInputSample();
}

void ProcessingChain::onSample(int16_t i, int16_t q)
{
    if (rawBuffer != nullptr) {
        auto* samples = reinterpret_cast<int16_t*>(rawBuffer->data());
        samples[2 * rawCount] = i;
        samples[2 * rawCount + 1] = q;
    }
    // Without a buffer (pool exhausted) the block's samples are dropped; a new
    // buffer is tried once per block, not once per sample.
    if (rawCount < kBlockSamples - 1) {
        ++rawCount;
        return;
    }
    nextBlock();
}

void ProcessingChain::nextBlock()
{
    rawCount = 0;
    if (rawBuffer != nullptr)
        onBlockFull();
    else
        dropped.fetch_add(1, std::memory_order_relaxed);
    rawBuffer = bufferPool.alloc(kRawBlockBytes);
}

void ProcessingChain::pushSamples(const int16_t* iq, size_t count)
{
    while (count > 0) {
        // As onSample(): the samples of a block without a buffer are dropped.
        const size_t room = size_t(kBlockSamples - rawCount);
        const size_t take = std::min(room, count);
        if (rawBuffer != nullptr)
            std::memcpy(reinterpret_cast<int16_t*>(rawBuffer->data()) + 2 * rawCount, iq, take * 4);
        iq += 2 * take;
        count -= take;
        rawCount += int32_t(take);
        if (rawCount < kBlockSamples)
            return;
        nextBlock();
    }
}

void ProcessingChain::onBlockFull(bool observed)
{
    reception.samplesArrived(std::chrono::steady_clock::now());
    if (observed) {
        const auto* raw = reinterpret_cast<const int16_t*>(rawBuffer->data());
        const uint64_t atFullScale = clippedSamples_sse41(raw, kBlockSamples, kClipLevel);
        if (atFullScale > 0)
            clipped.fetch_add(atFullScale, std::memory_order_relaxed);
    }
    if (observed)
        showBlock(samplesTaken.load(std::memory_order_relaxed));
    if (!decodingInput.load(std::memory_order_relaxed)) {
        // Only the observer looks at the band (a scan's survey).
        samplesTaken += kBlockSamples;
        bufferPool.dealloc(rawBuffer);
        rawBuffer = nullptr;
        return;
    }
    origins.entered(rawBuffer, samplesTaken.load(std::memory_order_relaxed));
    samplesTaken += kBlockSamples;
    // A float copy for the spectrum, before any filtering.
    WorkBuffer* floatBlock = spectrumWanted() ? bufferPool.alloc(kFloatBlockBytes) : nullptr;
    if (floatBlock != nullptr) {
        const float scale = fftScale.load(std::memory_order_relaxed) * (1.0f / 32768.0f);
        const auto* raw = reinterpret_cast<const int16_t*>(rawBuffer->data());
        auto* f = reinterpret_cast<float*>(floatBlock->data());
        for (int k = 0; k < 2 * kBlockSamples; ++k)
            f[k] = float(raw[k]) * scale;
        spectrumPending.fetch_add(1, std::memory_order_relaxed);
        if (!handOn(bufferPool, fft, floatBlock, kFloatBlockBytes))
            spectrumPending.fetch_sub(1, std::memory_order_relaxed);
    }
    baseband.enqueue(rawBuffer, nullptr);
    rawBuffer = nullptr;
}

bool ProcessingChain::spectrumWanted()
{
    if (!spectrumShown.load(std::memory_order_relaxed) &&
        (!dvbS2Mode() || !centring.enabled() || receiving() || demod.locked())) {
        spectrumPaused = true;
        return false;
    }
    if (spectrumPaused) {
        // The band search starts again from the band as it is now.
        spectrumPaused = false;
        std::lock_guard<std::mutex> lock(spectrumMutex);
        bandSpectrum.clear();
        recentBands.clear();
        bandConfirmation.clear();
    }
    return true;
}

void ProcessingChain::accumulateSpectrum(const WorkBuffer& transform)
{
    const auto* bins = reinterpret_cast<const std::complex<float>*>(transform.data());
    const size_t count = transform.size() / sizeof(std::complex<float>);
    bool added = false;
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        spectrum.accumulate(bins, count);
        // Only the first chunk holds the transform (the display counts the
        // empty rest, as its scale expects).
        bandSpectrum.accumulate(bins, std::min(count, size_t(bandSpectrum.size())));
        added = bandSpectrum.take(bandTransform);
        if (added) {
            recentBands.add(bandTransform);
            ++bandTransforms;
        }
    }
    if (added)
        centreOnBand();
}

void ProcessingChain::centreOnBand()
{
    // Before any frame is found the matched filter may pass a carrier far
    // off only in part, too little for the framing to find it at a low
    // Es/N0: the band itself shows where it is.
    if (!dvbS2Mode() || !centring.enabled() || !centring.idle() || receiving() || demod.locked())
        return;
    int transforms = 0;
    uint64_t newest = 0;
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        transforms = recentBands.mean(bandAverage);
        newest = bandTransforms;
    }
    if (transforms == 0)
        return;
    const double symbolRate = symbolsPerInputSample();   // cycles per device sample
    const double mixer = baseband.getPhaseIncrement();
    const BandCentre band = findBandCentre(bandAverage, symbolRate, mixer, kBandSearch * symbolRate, kBandMinimumLevel,
                                           averagedTransformsMedianToMean(transforms));
    // A band well above the floor at once; a weaker one when two estimates
    // agree: at the lowest Es/N0 one alone strays by a few per cent of the
    // symbol rate now and then. A band a few dozen bins wide strays by a
    // tenth, and the same stray comes back from the overlapping mean of the
    // next transform: a narrow band's second estimate comes from transforms
    // of its own (a few hundred symbols' worth at such rates; a wide band's
    // transforms hold thousands, and waiting would cost frames).
    const double binsPerSymbolRate = symbolRate * double(bandAverage.size());
    const int lag = binsPerSymbolRate < kBandFineBins ? transforms : 1;
    bool confirmed = false;
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        confirmed = bandConfirmation.agrees(band, newest, lag, kBandAgreement * symbolRate);
    }
    const bool agreed = band.found && (band.level >= kBandClearLevel || confirmed);
    if (!agreed)
        return;
    // Where the loop stands already near the band, it has found the carrier
    // and the loop's own centring takes over; else the mixer goes to the
    // band and the loop starts again from there.
    // The spectrum of a few blocks strays by a few per cent of the symbol
    // rate, more where a narrow band spans few bins: nearer than that the
    // framing's own reading is better, and it reaches that far by itself.
    const double toBand = (band.centre - mixer) / symbolRate;
    const double offBand = toBand - demod.carrierOffsetCycles();
    const double resolution = kBandBins / double(bandAverage.size()) / symbolRate;
    if (std::fabs(offBand) > std::max(kBandLimit, resolution))
        moveCarrier(toBand, true);
    else if (std::fabs(toBand) > CarrierCentring::kPlausible)
        // The loop stands on the band, further off than its own centring
        // trusts (the headers read it there, the mixer having been left
        // far off by an outage's noise or a wrong offset): the band vouches
        // for it, so the mixer takes it over and the loop follows.
        moveCarrier(toBand);
}

void ProcessingChain::setFftSize(int n)
{
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        spectrum.setSize(n);
        bandSpectrum.setSize(n);
        recentBands.clear();
        bandConfirmation.clear();
    }
    fft.setFftSize(n);
}

int ProcessingChain::fftSize()
{
    std::lock_guard<std::mutex> lock(spectrumMutex);
    return spectrum.size();
}

bool ProcessingChain::takeSpectrum(std::vector<float>& average)
{
    std::lock_guard<std::mutex> lock(spectrumMutex);
    return spectrum.take(average);
}

void ProcessingChain::clearSpectrum()
{
    std::lock_guard<std::mutex> lock(spectrumMutex);
    spectrum.clear();
    recentBands.clear();
    bandConfirmation.clear();
}

void ProcessingChain::onDemodulated(WorkBuffer* symbols, WorkBuffer* output)
{
    if (symbols != nullptr && symbolObserver)
        symbolObserver(*symbols);
    if (symbols != nullptr) {
        // Newest first; enough blocks to reach back over a longest frame at
        // many samples per symbol.
        recentBlocks.push_front({origins.take(symbols), int64_t(symbols->size() / 4)});
        recentSymbols += recentBlocks.front().symbols;
        if (recentBlocks.front().origin)
            demodulatedOrigin.store(*recentBlocks.front().origin, std::memory_order_relaxed);
        while (recentBlocks.size() > kRecentBlocks && recentSymbols - recentBlocks.back().symbols >= kRecentSymbols) {
            recentSymbols -= recentBlocks.back().symbols;
            recentBlocks.pop_back();
        }
    }
    const size_t symbolBytes = symbols != nullptr ? DemodWorker::symbolBytes(symbols->size()) : 0;
    const size_t frames = symbols != nullptr && output != nullptr && output->size() > symbolBytes
                              ? (output->size() - symbolBytes) / Demodulator::kFrameBytes
                              : 0;
    if (dvbS2Mode() && symbols != nullptr && output != nullptr) {
        const auto& delivered = demod.blockFrames();
        reception.demodulated(symbols->size() / 4,
                              frames > 0 && !delivered.empty() ? plFrameSymbols(delivered.back().plsCode) : 0);
    }
    // Noise or an outage must not leave the timing loop where the signal,
    // when it returns, is out of its reach.
    resample.setReceiving(receiving());
    centring.demodulated(symbols);
    // The loop's carrier is read every kFollowSymbols, however small the
    // blocks: a narrow carrier's come a few dozen symbols at a time, and
    // read after each the loop is caught mid-way through an SOF's or a
    // header's trial of a carrier, which the mixer must not follow.
    followedSymbols += symbols != nullptr ? symbols->size() / 4 : 0;
    if (followedSymbols >= kFollowSymbols) {
        followedSymbols = 0;
        followCarrier();
    }
    if (output != nullptr) {
        if (!dvbS2Mode()) {
            // The symbols travel on to the Viterbi decoder, which refills a
            // buffer of the same size with fewer bytes.
            forward(viterbi, output, ViterbiWorker::outputBytes(output->size()));
            output = nullptr;
        } else if (frames > 0 && demod.blockFrames().size() == frames) {
            // Frames follow the block's symbols: each but the last in a
            // buffer of its own, the last in this one.
            for (size_t f = 0; f < frames; ++f) {
                const size_t offset = symbolBytes + f * Demodulator::kFrameBytes;
                const FrameSynchroniser::DeliveredFrame info = demod.blockFrames()[f];
                if (frameObserver)
                    frameObserver(reinterpret_cast<const int8_t*>(output->data() + offset), info.plsCode);
                if (ldpc.empty())
                    continue;
                if (f + 1 < frames) {
                    WorkBuffer* copy = bufferPool.alloc(Demodulator::kFrameBytes);
                    if (copy == nullptr) {
                        frameDropped = true;
                        dropped.fetch_add(1, std::memory_order_relaxed);
                        continue;
                    }
                    std::memcpy(copy->data(), output->data() + offset, Demodulator::kFrameBytes);
                    dispatchFrame(copy, 0, info, inputSampleAt(info.startInBlock));
                } else {
                    dispatchFrame(output, offset, info, inputSampleAt(info.startInBlock));
                    output = nullptr;   // travels on with the frame
                }
            }
        }
        releaseIfAny(bufferPool, output);
    }
    releaseIfAny(bufferPool, symbols);
}

int64_t ProcessingChain::inputSampleAt(int64_t symbol)
{
    // From the block the symbol is in: the timing loop's rate then carries
    // it over a fraction of a block, not over a frame's length (33 ksym at
    // a rate that wanders by 0.1 % would be 30 symbols).
    size_t block = 0;
    while (symbol < 0 && block + 1 < recentBlocks.size())
        symbol += recentBlocks[++block].symbols;
    if (recentBlocks.empty() || symbol < 0 || !recentBlocks[block].origin)
        return -1;
    // The symbols of a block left the filters that much after their samples
    // entered them (the resampler's symbol of history, counted there for a
    // carrier step, delays no symbol).
    const double samplesPerSymbol = recentSamplesPerSymbol();
    const double at =
        double(*recentBlocks[block].origin) + double(symbol - filterDelaySymbols() + 1) * samplesPerSymbol;
    return at > 0 ? int64_t(std::llround(at)) : 0;
}

double ProcessingChain::recentSamplesPerSymbol()
{
    // Input samples over the symbols they became, across the last blocks
    // that followed each other without a gap: what the timing loop did
    // while these symbols passed, not where it has got to since on the
    // blocks behind them (read then, it moves a frame's start by a symbol
    // or two from run to run).
    if (recentBlocks.size() >= 2 && recentBlocks[0].origin) {
        int64_t symbols = 0;
        uint64_t newer = *recentBlocks[0].origin;
        size_t k = 1;
        for (; k < recentBlocks.size() && symbols < kRateSymbols; ++k) {
            const std::optional<uint64_t>& origin = recentBlocks[k].origin;
            if (!origin || newer - *origin != uint64_t(kBlockSamples))
                break;
            symbols += recentBlocks[k].symbols;
            newer = *origin;
        }
        if (symbols >= kRateSymbols / 4)
            return double(*recentBlocks[0].origin - newer) / double(symbols);
    }
    return 1.0 / trackedSymbolsPerInputSample();
}

void ProcessingChain::dispatchFrame(WorkBuffer* output, size_t frameOffset, const FrameSynchroniser::DeliveredFrame& info,
                                    int64_t inputSample)
{
    // The frame moves to the start of the buffer, which then holds only it.
    std::memmove(output->data(), output->data() + frameOffset, std::min(output->size() - frameOffset,
                                                                        size_t(Demodulator::kFrameBytes)));
    output->resize(Demodulator::kFrameBytes);
    WorkBuffer* tag = bufferPool.alloc(kFrameTagBytes);
    if (tag == nullptr) {
        bufferPool.dealloc(output);   // no tag, no frame
        frameDropped = true;
        dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    FrameTag t;
    t.plsCode = info.plsCode;
    t.inputSample = inputSample;
    t.afterGap = frameDropped || info.afterGap;
    const SignalQualityReading quality = demod.frameQuality();
    if (quality.merValid)
        t.qualityDb = float(quality.merDb);
    else if (quality.valid)
        t.qualityDb = float(quality.esn0Db);
    writeFrameTag(*tag, t);
    frameDropped = false;
    sequencer.dispatch(output, tag);
}

void ProcessingChain::releaseFrame(WorkBuffer* frame, WorkBuffer* tag)
{
    const FrameTag t = tag != nullptr ? readFrameTag(*tag) : FrameTag();
    releaseIfAny(bufferPool, tag);
    if (t.bchCorrected > 0)
        bchCorrected.fetch_add(uint64_t(t.bchCorrected), std::memory_order_relaxed);
    if (t.bchFailed)
        bchFailed.fetch_add(1, std::memory_order_relaxed);
    if (t.result >= 0 && !t.bchFailed)
        lastDecodedPls.store(t.plsCode, std::memory_order_relaxed);
    reception.frameReleased(t.result >= 0 && !t.bchFailed);
    if (resultObserver)
        resultObserver(t);
    if (frame != nullptr) {
        framePasses.store(t.passesAllowed > 0 ? t.passesAllowed : 32, std::memory_order_relaxed);
        bbFrames.processBBFrame(frame->data(), frame->size(), t.result, t.afterGap);
    }
    releaseIfAny(bufferPool, frame);
}

void ProcessingChain::setSymbolObserver(std::function<void(const WorkBuffer&)> observer)
{
    symbolObserver = std::move(observer);
}

void ProcessingChain::setSampleBlockObserver(SampleBlockObserver observer)
{
    sampleBlockObserver = std::move(observer);
}

void ProcessingChain::setSurveyObserver(SampleBlockObserver observer)
{
    std::lock_guard<std::mutex> lock(surveyMutex);
    surveyObserver = std::move(observer);
}

void ProcessingChain::showBlock(uint64_t origin)
{
    if (sampleBlockObserver)
        sampleBlockObserver(*rawBuffer, origin);
    std::lock_guard<std::mutex> lock(surveyMutex);
    if (surveyObserver)
        surveyObserver(*rawBuffer, origin);
}

void ProcessingChain::setFrameObserver(FrameObserver observer)
{
    frameObserver = std::move(observer);
}

void ProcessingChain::onViterbiDecoded(WorkBuffer* symbols, WorkBuffer* bytes)
{
    releaseIfAny(bufferPool, symbols);
    if (bytes == nullptr)
        return;
    dvbs.decode(bytes->data(), bytes->size(), viterbi.period());
    reception.dvbsSynchronised(dvbs.status().confidence >= 16);
    bufferPool.dealloc(bytes);
}
