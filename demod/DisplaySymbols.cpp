#include "demod/DisplaySymbols.h"

#include <algorithm>

DisplaySymbols::DisplaySymbols() : ring(kCapacity) {}

void DisplaySymbols::push(const std::vector<std::complex<float>>& symbols, const ConstellationObject* constellation)
{
    reference.store(constellation, std::memory_order_release);
    // A block longer than the ring leaves only its newest symbols in it.
    const size_t skip = symbols.size() > kCapacity ? symbols.size() - kCapacity : 0;
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t k = skip; k < symbols.size(); ++k) {
        ring[next] = symbols[k];
        next = next + 1 == kCapacity ? 0 : next + 1;
    }
    fresh = std::min(fresh + (symbols.size() - skip), kCapacity);
}

void DisplaySymbols::take(std::vector<std::complex<float>>& out)
{
    std::lock_guard<std::mutex> lock(mutex);
    out.resize(fresh);
    const size_t first = (next + kCapacity - fresh) % kCapacity;
    for (size_t k = 0; k < fresh; ++k)
        out[k] = ring[(first + k) % kCapacity];
    fresh = 0;
}
