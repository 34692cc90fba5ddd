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
    if (pendingMove != 0) {
        phaseIncrement.store(phaseIncrement.load() + pendingMove);
        moveOutcome = MoveOutcome::Applied;
        pendingMove = 0;
    } else if (moveReplaced) {
        moveOutcome = MoveOutcome::Replaced;
    }
    moveReplaced = false;
    mixer.phaseIncrement = phaseIncrement.load();
    mixer.process(reinterpret_cast<int16_t*>(input->data()), input->size() / 4);
}

void BasebandWorker::setPhaseIncrement(double cyclesPerSample)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    if (pendingMove != 0)
        moveReplaced = true;
    pendingMove = 0;
    phaseIncrement.store(cyclesPerSample);
}

void BasebandWorker::moveBy(double cyclesPerSample)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    pendingMove += cyclesPerSample;
}
