#include "fec/ViterbiWorker.h"

#include "core/Log.h"

#include <complex>

ViterbiWorker::ViterbiWorker(DoneCallback onDone, ViterbiDecoder::Kernel kernel)
    : Worker(std::move(onDone)),
      decoder(kernel)
{
}

ViterbiWorker::~ViterbiWorker()
{
    stop();
}

void ViterbiWorker::process(WorkBuffer* input, WorkBuffer* output)
{
    if (output == nullptr)
        return;
    output->clear();
    if (input == nullptr)
        return;
    std::lock_guard<std::mutex> lock(paramMutex);
    auto* symbols = reinterpret_cast<std::complex<float>*>(input->data());
    const size_t count = input->size() / sizeof(std::complex<float>);
    // The symbols are ours until the completion: mirrored and turned in
    // place, exactly.
    if (mirror)
        for (size_t k = 0; k < count; ++k)
            symbols[k] = std::conj(symbols[k]);
    if (turns == 1) {
        for (size_t k = 0; k < count; ++k)
            symbols[k] = {symbols[k].imag(), -symbols[k].real()};
    } else if (turns == 2) {
        for (size_t k = 0; k < count; ++k)
            symbols[k] = -symbols[k];
    } else if (turns == 3) {
        for (size_t k = 0; k < count; ++k)
            symbols[k] = {-symbols[k].imag(), symbols[k].real()};
    }
    decoder.decodeSymbols(symbols, count, *output);
}

void ViterbiWorker::setDepunctureIndex(int index)
{
    LogLine() << "depuncture index changed to: " << index;
    if (index < 0)
        return;
    {
        std::lock_guard<std::mutex> lock(paramMutex);
        decoder.setRateType(index);
    }
    if (const char* name = ViterbiDecoder::rateName(index))
        LogLine() << name;
    else
        LogLine() << "Unknown FEC!!!";
}

void ViterbiWorker::requestSymbolSkip()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    decoder.requestSkip();
}

void ViterbiWorker::skipSoftValues(int n)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    decoder.dropValues(n);
}

void ViterbiWorker::setQuarterTurns(int quarterTurns)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    turns = ((quarterTurns % 4) + 4) % 4;
}

void ViterbiWorker::setMirrored(bool on)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    mirror = on;
}

bool ViterbiWorker::mirrored()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return mirror;
}

int ViterbiWorker::quarterTurns()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return turns;
}

int ViterbiWorker::rateType()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return decoder.rateType();
}

int ViterbiWorker::period()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return decoder.period();
}
