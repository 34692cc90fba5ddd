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
    decoder.decodeSymbols(reinterpret_cast<const std::complex<float>*>(input->data()),
                          input->size() / sizeof(std::complex<float>), *output);
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
