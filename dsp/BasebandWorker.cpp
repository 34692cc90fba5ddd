#include "dsp/BasebandWorker.h"

BasebandWorker::BasebandWorker(DoneCallback onDone)
    : Worker(std::move(onDone))
{
}

BasebandWorker::~BasebandWorker()
{
    stop();
}

void BasebandWorker::process(WorkBuffer* input, WorkBuffer*)
{
    if (input == nullptr)
        return;
    std::lock_guard<std::mutex> lock(paramMutex);
    mixer.phaseIncrement = phaseIncrement.load();
    mixer.process(reinterpret_cast<int16_t*>(input->data()), input->size() / 4);
}
