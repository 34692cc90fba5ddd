#include "receiver/CarrierCentring.h"

#include <cmath>

double CarrierCentring::moveFor(double cycles, bool locked)
{
    const double off = std::fabs(cycles);
    return off > (locked ? kLockedLimit : kAcquiringLimit) && off <= kPlausible ? cycles : 0.0;
}

void CarrierCentring::setEnabled(bool enable)
{
    std::lock_guard<std::mutex> lock(mutex);
    on = enable;
}

bool CarrierCentring::enabled() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return on;
}

bool CarrierCentring::idle() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return !busy;
}

void CarrierCentring::requested(double cycles, bool restart)
{
    std::lock_guard<std::mutex> lock(mutex);
    busy = true;
    at = nullptr;
    move = cycles;
    restartLoop = restart;
}

void CarrierCentring::applied(const WorkBuffer* block)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (busy)
        at = block;
}

void CarrierCentring::replaced()
{
    std::lock_guard<std::mutex> lock(mutex);
    busy = false;
    at = nullptr;
}

void CarrierCentring::passed(const WorkBuffer* from, const WorkBuffer* to)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (at == nullptr || at != from)
        return;
    at = to;
    if (to == nullptr)
        busy = false;
}

bool CarrierCentring::arrives(const WorkBuffer* block, double& cycles, bool& restart)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (at == nullptr || at != block)
        return false;
    cycles = move;
    restart = restartLoop;
    return true;
}

void CarrierCentring::demodulated(const WorkBuffer* block)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (at == nullptr || at != block)
        return;
    at = nullptr;
    busy = false;
}
