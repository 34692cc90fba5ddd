#include "core/ProcessingChain.h"

#include "core/HandOn.h"
#include "core/Log.h"

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
      }),
      baseband([this](WorkBuffer* in, WorkBuffer*) {
          // Filtered in place; the filter writes twice as many samples.
          if (in != nullptr)
              forward(fir, in, 2 * in->size());
      }),
      fir([this](WorkBuffer* in, WorkBuffer* out) {
          releaseIfAny(bufferPool, in);
          if (out != nullptr)
              forward(resample, out, out->size());
      }),
      resample([this](WorkBuffer* in, WorkBuffer* out) {
          releaseIfAny(bufferPool, in);
          // Room for a complex float per symbol and a completed frame.
          if (out != nullptr)
              forward(demod, out, 4 * out->size() + Demodulator::kFrameBytes);
      }),
      demod([this](WorkBuffer* in, WorkBuffer* out) { onDemodulated(in, out); }),
      viterbi([this](WorkBuffer* in, WorkBuffer* out) { onViterbiDecoded(in, out); }),
      sequencer([this](WorkBuffer* frame, WorkBuffer* tag) { releaseFrame(frame, tag); }),
      bbFrames({[this](float rollOff) {
                    if (rollOffObserver)
                        rollOffObserver(rollOff);
                },
                [this](const uint8_t* bytes, size_t length, bool start) {
                    if (start)
                        tsBlocks.emitTransportStream(bytes, length, true);
                    else
                        tsBlocks.continuePacket(bytes, length);
                },
                [this]() { tsBlocks.resynchronise(); },
                [this](const uint8_t* field, uint16_t dfl) { gse.parseGSE(field, dfl); }}),
      tsBlocks([this](const uint8_t* block, size_t size) {
          if (tsObserver)
              tsObserver(block, size);
          sdt.scanBlockForSDT(block);
      }),
      gse([this](const uint8_t* pdu, size_t length) {
          if (gseObserver)
              gseObserver(pdu, length);
      }),
      sdt([this](const std::vector<std::string>& lines, const std::string& text) {
          if (serviceObserver)
              serviceObserver(lines, text);
      }),
      outer([this](const uint8_t* packet, size_t length) { tsBlocks.emitTransportStream(packet, length, true); }),
      // The search's turn and skip act in the Viterbi decoder, from its
      // next block, so each combination is judged on its own bits.
      alignment({[this](int v) { viterbi.setQuarterTurns(v / 64); }, [this]() { viterbi.requestSymbolSkip(); },
                 [this]() { outer.resetSync(); }}),
      callback([this](int16_t i, int16_t q) { onSample(i, q); }),
      spectrumAcc(size_t(FFTWorker::kDefaultSize), 0.0f)
{
    workerList = {&fft, &baseband, &fir, &resample, &demod, &viterbi};
    rawBuffer = bufferPool.alloc(kRawBlockBytes);
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
        workerList.push_back(ldpc.back().get());
        rotation.push_back(ldpc.back().get());
    }
    sequencer.setWorkers(rotation);
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

void ProcessingChain::forward(Worker& next, WorkBuffer* data, size_t outputSize)
{
    if (data != nullptr && !handOn(bufferPool, next, data, outputSize))
        dropped.fetch_add(1, std::memory_order_relaxed);
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
    rawCount = 0;
    if (rawBuffer != nullptr)
        onBlockFull();
    else
        dropped.fetch_add(1, std::memory_order_relaxed);
    rawBuffer = bufferPool.alloc(kRawBlockBytes);
}

void ProcessingChain::onBlockFull()
{
    if (sampleBlockObserver)
        sampleBlockObserver(*rawBuffer);
    // A float copy for the spectrum, before any filtering.
    WorkBuffer* floatBlock = bufferPool.alloc(kFloatBlockBytes);
    if (floatBlock != nullptr) {
        const float scale = fftScale.load(std::memory_order_relaxed) * (1.0f / 32768.0f);
        const auto* raw = reinterpret_cast<const int16_t*>(rawBuffer->data());
        auto* f = reinterpret_cast<float*>(floatBlock->data());
        for (int k = 0; k < 2 * kBlockSamples; ++k)
            f[k] = float(raw[k]) * scale;
        handOn(bufferPool, fft, floatBlock, kFloatBlockBytes);
    }
    baseband.enqueue(rawBuffer, nullptr);
    rawBuffer = nullptr;
}

void ProcessingChain::accumulateSpectrum(const WorkBuffer& transform)
{
    std::lock_guard<std::mutex> lock(spectrumMutex);
    const int32_t n = spectrumSize;
    const int32_t half = n / 2;
    const float scale = float(1.0 / (double(n) * std::sqrt(double(n)))) * 16384.0f;
    const auto* bins = reinterpret_cast<const std::complex<float>*>(transform.data());
    const size_t chunkBytes = size_t(n) * sizeof(std::complex<float>);
    for (size_t offset = 0; offset + chunkBytes <= transform.size(); offset += chunkBytes) {
        const std::complex<float>* chunk = bins + offset / sizeof(std::complex<float>);
        for (int32_t j = 0; j < n; ++j) {
            const std::complex<float> v = chunk[(j + half) % n];
            spectrumAcc[size_t(j)] += scale * std::sqrt(v.real() * v.real() + v.imag() * v.imag());
        }
        ++spectrumCount;
    }
}

void ProcessingChain::setFftSize(int n)
{
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        spectrumAcc.resize(size_t(n), 0.0f);
        spectrumSize = n;
    }
    fft.setFftSize(n);
}

int ProcessingChain::fftSize()
{
    std::lock_guard<std::mutex> lock(spectrumMutex);
    return spectrumSize;
}

bool ProcessingChain::takeSpectrum(std::vector<float>& average)
{
    std::lock_guard<std::mutex> lock(spectrumMutex);
    if (spectrumCount <= 15)
        return false;
    average.resize(spectrumAcc.size());
    for (size_t j = 0; j < spectrumAcc.size(); ++j) {
        average[j] = spectrumAcc[j] / float(spectrumCount);
        spectrumAcc[j] = 0;
    }
    spectrumCount = 0;
    return true;
}

void ProcessingChain::clearSpectrum()
{
    std::lock_guard<std::mutex> lock(spectrumMutex);
    std::fill(spectrumAcc.begin(), spectrumAcc.end(), 0.0f);
    spectrumCount = 0;
}

void ProcessingChain::onDemodulated(WorkBuffer* symbols, WorkBuffer* output)
{
    if (symbols != nullptr && symbolObserver)
        symbolObserver(*symbols);
    if (output != nullptr) {
        if (!dvbS2Mode()) {
            // The symbols travel on to the Viterbi decoder, which refills a
            // buffer of the same size with fewer bytes.
            forward(viterbi, output, output->size());
            output = nullptr;
        } else if (symbols != nullptr && output->size() > 2 * symbols->size()) {
            // A frame follows the block's symbols.
            if (frameObserver)
                frameObserver(reinterpret_cast<const int8_t*>(output->data() + 2 * symbols->size()),
                              demod.deliveredPlsCode());
            if (!ldpc.empty()) {
                dispatchFrame(output, 2 * symbols->size());
                output = nullptr;   // travels on with the frame
            }
        }
        releaseIfAny(bufferPool, output);
    }
    releaseIfAny(bufferPool, symbols);
}

void ProcessingChain::dispatchFrame(WorkBuffer* output, size_t frameOffset)
{
    // The frame moves to the start of the buffer, which then holds only it.
    std::memmove(output->data(), output->data() + frameOffset, std::min(output->size() - frameOffset,
                                                                        size_t(Demodulator::kFrameBytes)));
    output->resize(Demodulator::kFrameBytes);
    WorkBuffer* tag = bufferPool.alloc(LDPCWorker::kTagBytes + 1);
    if (tag == nullptr) {
        bufferPool.dealloc(output);   // no tag, no frame
        frameDropped = true;
        dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    (*tag)[0] = demod.deliveredPlsCode();
    (*tag)[LDPCWorker::kGapByte] = uint8_t(frameDropped || demod.deliveredAfterGap());
    frameDropped = false;
    sequencer.dispatch(output, tag);
}

void ProcessingChain::releaseFrame(WorkBuffer* frame, WorkBuffer* tag)
{
    const int32_t result = tag != nullptr ? LDPCWorker::tagResult(*tag) : -1;
    const bool afterGap = tag == nullptr || tag->size() <= size_t(LDPCWorker::kGapByte) ||
                          (*tag)[LDPCWorker::kGapByte] != 0;
    releaseIfAny(bufferPool, tag);
    if (resultObserver)
        resultObserver(result);
    if (frame != nullptr)
        bbFrames.processBBFrame(frame->data(), frame->size(), result, afterGap);
    releaseIfAny(bufferPool, frame);
}

void ProcessingChain::setSymbolObserver(std::function<void(const WorkBuffer&)> observer)
{
    symbolObserver = std::move(observer);
}

void ProcessingChain::setSampleBlockObserver(std::function<void(const WorkBuffer&)> observer)
{
    sampleBlockObserver = std::move(observer);
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
    outer.processBytes(bytes->data(), bytes->size());
    alignment.observe(bytes->data(), bytes->size(), viterbi.period(),
                      {outer.syncState(), outer.syncConfidence(), outer.lockedPackets()});
    bufferPool.dealloc(bytes);
}
