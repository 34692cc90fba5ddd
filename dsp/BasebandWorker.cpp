#include "dsp/BasebandWorker.h"

#include <algorithm>

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
    auto* iq = reinterpret_cast<int16_t*>(input->data());
    mixer.process(iq, input->size() / 4);
    decimator.setExponent(decimationExponent.load());
    input->resize(decimator.process(iq, input->size() / 4) * 4);
}

void BasebandWorker::setDecimation(int exponent)
{
    decimationExponent.store(std::clamp(exponent, 0, Decimator::kMaxExponent));
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
